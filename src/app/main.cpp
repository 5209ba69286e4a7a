#include <cstdio>

int main() {
  std::puts("Zentrove");
  return 0;
}
