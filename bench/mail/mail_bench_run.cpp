// The SMTP client's side of the mail benchmark.
//
//   mail_bench_run write ATTACHMENT OUT   writes the message with ATTACHMENT to OUT, for curl to send
//   mail_bench_run send ATTACHMENT PORT   sends it to 127.0.0.1:PORT and prints the seconds it took
//                                         and the peak growth of the resident set in kilobytes
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/process.h"
#include "transfer/mime.h"
#include "transfer/smtp_client.h"

using namespace zentrove;

namespace {

transfer::MailMessage Message(const std::string& attachment) {
  transfer::MailMessage message;
  message.fromAddress = "bench@example.org";
  message.to = {"sink@example.org"};
  message.subject = "Mail benchmark";
  message.body = "A message with a large attachment.";
  message.attachments = {{attachment, "archive.zip"}};
  return message;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: mail_bench_run write|send ATTACHMENT OUT|PORT\n");
    return 2;
  }
  const std::string mode = argv[1];
  const transfer::MailMessage message = Message(argv[2]);
  if (mode == "write") {
    std::ofstream out(argv[3], std::ios::binary);
    const platform::Status written = transfer::WriteMimeMessage(message, [&out](std::string_view piece) {
      out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
      return platform::Status::Success();
    });
    return written && out ? 0 : 1;
  }

  transfer::SmtpSettings settings;
  settings.host = "127.0.0.1";
  settings.port = std::stoi(argv[3]);
  const std::uint64_t baseline = platform::ResidentSetBytes().value_or(0);
  std::uint64_t peak = baseline;
  transfer::SmtpEvents events;
  events.progress = [&peak](std::uint64_t) {
    peak = std::max(peak, platform::ResidentSetBytes().value_or(0));
  };
  const auto start = std::chrono::steady_clock::now();
  const platform::Status sent = transfer::SendMailMessage(settings, message, events);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!sent) {
    std::fprintf(stderr, "mail_bench_run: %s\n", sent.Message().c_str());
    return 1;
  }
  std::printf("%.3f %llu\n", took.count(), static_cast<unsigned long long>((peak - baseline) / 1024));
  return 0;
}
