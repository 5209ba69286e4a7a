// A small program the engine tests start as a before- or after-program. It appends what it was
// started with to the file named by $ZENTROVE_RECORD_ARGS: one line "cwd=" + its working folder,
// one line "arg=" + each argument, then a line "end".

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* output = std::getenv("ZENTROVE_RECORD_ARGS");
  if (output == nullptr) return 2;
  std::string text = "cwd=";
  char folder[4096];
  if (getcwd(folder, sizeof folder) != nullptr) text += folder;
  text += "\n";
  for (int i = 1; i < argc; ++i)
    text += std::string("arg=") + argv[i] + "\n";
  text += "end\n";
  FILE* out = std::fopen(output, "ab");
  if (out == nullptr) return 3;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
  return 0;
}
