#include "transfer/smtp_client.h"

#include <gtest/gtest.h>

#include <random>

#include "transfer/smtp_reply.h"
#include "transfer/smtp_server_fixture.h"

namespace zentrove::transfer {
namespace {

using testing::Sha256Hex;

class SmtpClientTest : public testing::SmtpServerTest {
 protected:
  MailMessage Message() const {
    MailMessage message;
    message.fromName = "Backup \"Server\"";
    message.fromAddress = "backup@example.org";
    message.to = {"ops@example.org"};
    message.subject = "Plain subject";
    message.body = "Hello";
    return message;
  }

  // Sends with the warning lines collected.
  platform::Status Send(const SmtpSettings& settings, const MailMessage& message) {
    SmtpEvents events;
    events.warning = [this](const std::string& line) { warnings_ += line + "\n"; };
    events.tlsWarning = events.warning;
    return SendMailMessage(settings, message, events);
  }

  std::string warnings_;
};

TEST_F(SmtpClientTest, PlainMessageKeepsUtf8TextSubjectAndLineRules) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain"));
  MailMessage message = Message();
  message.fromName = "Sicherung Büro";
  message.subject = "Bericht für Aufgabe 1004 — ok\r\nBcc: evil@example.org";
  const std::string longLine(3000, 'x');
  message.body = "Grüße\n.starts with a dot\r..\rbare CR and LF\n" + longLine + "\nend";
  const platform::Status sent = Send(Settings(SmtpSecurity::Plain), message);
  ASSERT_TRUE(sent) << sent.Message();
  ASSERT_TRUE(WaitForMessage());

  const auto parsed = Parse(MessagePath());
  EXPECT_EQ(First(parsed, "subject"), "Bericht für Aufgabe 1004 — okBcc: evil@example.org");
  EXPECT_EQ(First(parsed, "from"), "Sicherung Büro <backup@example.org>");
  EXPECT_EQ(First(parsed, "charset"), "utf-8");
  EXPECT_EQ(First(parsed, "text"),
            "Grüße\\n.starts with a dot\\n..\\nbare CR and LF\\n" + longLine + "\\nend\\n");
  EXPECT_EQ(First(parsed, "date"), "yes");
  EXPECT_EQ(First(parsed, "message-id"), "yes");
  EXPECT_EQ(First(parsed, "bare-lf"), "no");
  EXPECT_LE(std::stoi(First(parsed, "longest")), 998);
  EXPECT_EQ(Events().find("AUTH"), std::string::npos);
  EXPECT_EQ(Events().find("Bcc"), std::string::npos);
}

TEST_F(SmtpClientTest, AttachmentsDecodeByteForByteUnderTheirNames) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain"));
  std::string binary(300 * 1024 + 17, '\0');
  std::mt19937 random(7);
  for (char& c : binary)
    c = static_cast<char>(random());
  const auto first = WriteFile("files/a.bin", binary);
  const auto second = WriteFile("files/b.txt", std::string("line\r\n.dot\n"));
  MailMessage message = Message();
  message.to = {"a@example.org", "b@example.org"};
  message.attachments = {{first.string(), "Sicherung Übersicht März 2026 mit einem recht langen Namen.zip"},
                         {second.string(), "b.txt"}};
  const platform::Status sent = Send(Settings(SmtpSecurity::Plain), message);
  ASSERT_TRUE(sent) << sent.Message();
  ASSERT_TRUE(WaitForMessage());

  const auto parsed = Parse(MessagePath());
  std::vector<std::string> attachments;
  for (auto [it, end] = parsed.equal_range("attachment"); it != end; ++it)
    attachments.push_back(it->second);
  ASSERT_EQ(attachments.size(), 2u);
  EXPECT_EQ(attachments[0], "Sicherung Übersicht März 2026 mit einem recht langen Namen.zip " +
                                Sha256Hex(binary) + " " + std::to_string(binary.size()));
  EXPECT_EQ(attachments[1], "b.txt " + Sha256Hex("line\r\n.dot\n") + " 11");
  EXPECT_EQ(First(parsed, "text"), "Hello\\n");
  EXPECT_NE(Events().find("RCPT a@example.org\nRCPT b@example.org"), std::string::npos);
}

TEST_F(SmtpClientTest, StartTlsLogsInWithAuthLoginAndPinsTheCertificate) {
  ASSERT_NO_FATAL_FAILURE(StartServer("starttls+login"));
  SmtpSettings settings = Settings(SmtpSecurity::StartTls);
  settings.user = "backup";
  settings.password = "pa55 word";
  const platform::Status sent = Send(settings, Message());
  ASSERT_TRUE(sent) << sent.Message();
  EXPECT_NE(Events().find("AUTH LOGIN backup pa55 word"), std::string::npos);
  EXPECT_NE(warnings_.find("pinned with the SHA-256 fingerprint"), std::string::npos) << warnings_;
  ASSERT_TRUE(WaitForMessage());
}

TEST_F(SmtpClientTest, ImplicitTlsSendsTheMessage) {
  ASSERT_NO_FATAL_FAILURE(StartServer("implicit"));
  const platform::Status sent = Send(Settings(SmtpSecurity::ImplicitTls), Message());
  ASSERT_TRUE(sent) << sent.Message();
  EXPECT_TRUE(WaitForMessage());
}

TEST_F(SmtpClientTest, StartTlsThatIsNotOfferedSendsNeitherLoginNorMessage) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain+login"));
  SmtpSettings settings = Settings(SmtpSecurity::StartTls);
  settings.user = "backup";
  settings.password = "secret";
  const platform::Status sent = Send(settings, Message());
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.Message(), "The server does not offer STARTTLS, so the message was not sent");
  EXPECT_EQ(Events().find("AUTH"), std::string::npos);
  EXPECT_EQ(Events().find("MAIL"), std::string::npos);
}

TEST_F(SmtpClientTest, LoginOnlyWhenAUserIsSetAndLoginIsOffered) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plainonly"));
  SmtpSettings settings = Settings(SmtpSecurity::Plain);
  settings.user = "backup";
  settings.password = "secret";
  ASSERT_TRUE(Send(settings, Message()));
  settings.user.clear();
  ASSERT_TRUE(Send(settings, Message()));
  ASSERT_TRUE(WaitForMessage(2));
  EXPECT_EQ(Events().find("AUTH"), std::string::npos);
}

TEST_F(SmtpClientTest, RefusedLoginGoesOnAndTheRefusalNeverShowsThePassword) {
  ASSERT_NO_FATAL_FAILURE(StartServer("login+badlogin+required"));
  SmtpSettings settings = Settings(SmtpSecurity::Plain);
  settings.user = "backup";
  settings.password = "Tr0ub4dor&3";
  const platform::Status sent = Send(settings, Message());
  ASSERT_FALSE(sent);
  EXPECT_NE(warnings_.find("SMTP authentication failed: 535"), std::string::npos) << warnings_;
  EXPECT_NE(sent.Message().find("The server refused the sender <backup@example.org>: 530"), std::string::npos)
      << sent.Message();
  for (const std::string& secret :
       {settings.password, Base64Encode(settings.password), Base64Encode("backup")}) {
    EXPECT_EQ(sent.Message().find(secret), std::string::npos);
    EXPECT_EQ(warnings_.find(secret), std::string::npos);
  }
}

TEST_F(SmtpClientTest, RejectedMessageFailsWithTheServersReply) {
  ASSERT_NO_FATAL_FAILURE(StartServer("reject"));
  const platform::Status sent = Send(Settings(SmtpSecurity::Plain), Message());
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.Message(), "The server refused the message: 552 5.3.4 Message too big for this test");
}

TEST_F(SmtpClientTest, ServerThatNeverGreetsEndsWithinTheReplyTimeout) {
  ASSERT_NO_FATAL_FAILURE(StartServer("silent"));
  SmtpSettings settings = Settings(SmtpSecurity::Plain);
  settings.timeouts.reply = std::chrono::milliseconds(700);
  const auto start = std::chrono::steady_clock::now();
  const platform::Status sent = Send(settings, Message());
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.Message(), "The server did not answer in time");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  // A stop request ends the wait long before the time-out.
  settings.timeouts.reply = std::chrono::seconds(60);
  const auto stopAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  SmtpEvents events;
  events.cancel = [stopAt] { return std::chrono::steady_clock::now() >= stopAt; };
  const platform::Status stopped = SendMailMessage(settings, Message(), events);
  EXPECT_EQ(stopped.Message(), "Sending was stopped");
  EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(3));
}

TEST(SmtpReplyReaderTest, RepliesComeWholeAndWhatIsNoReplyIsRefused) {
  SmtpReplyReader reader;
  ASSERT_TRUE(reader.Feed("250-mail.example\r\n250-AUTH LOGIN\r"));
  EXPECT_FALSE(reader.HasReply());
  ASSERT_TRUE(reader.Feed("\n250 SIZE\n220\r\n"));
  SmtpReply reply = reader.TakeReply();
  EXPECT_EQ(reply.code, 250);
  EXPECT_EQ(reply.lines, (std::vector<std::string>{"mail.example", "AUTH LOGIN", "SIZE"}));
  EXPECT_EQ(reader.TakeReply().Text(), "220");

  for (const std::string& bad :
       std::vector<std::string>{"250-a\r\n251 b\r\n", "25\r\n", "650 x\r\n", "250x\r\n", "hello\r\n",
                                std::string(SmtpReplyReader::kMaxLineLength + 10, '2')}) {
    SmtpReplyReader refused;
    EXPECT_FALSE(refused.Feed(bad)) << bad;
    EXPECT_FALSE(refused.Feed("250 OK\r\n"));
  }
  EXPECT_EQ(PrintableServerText("535 bad\x1b[2J\r\nX"), "535 bad?[2J??X");
}

TEST(SmtpAddressTest, EveryAddressIsCheckedAndABadOneNamed) {
  for (const char* good : {"a@b", "first.last+tag@example.org"})
    EXPECT_TRUE(CheckMailAddress(good)) << good;
  for (const char* bad :
       {"", "ab", "@b", "a@", "a@b@c", "a b@c", "a@b>", "<a@b", "a@b\r\nRCPT TO:<x@y>", "a\t@b"}) {
    EXPECT_FALSE(CheckMailAddress(bad)) << bad;
  }
  MailMessage message;
  message.fromAddress = "me@example.org";
  message.to = SplitAddressList(" ok@example.org , bad one@example.org,,");
  ASSERT_EQ(message.to.size(), 2u);
  SmtpSettings settings;
  settings.host = "127.0.0.1";
  settings.port = 1;
  const platform::Status sent = SendMailMessage(settings, message);
  EXPECT_EQ(sent.Message(), "The e-mail address \"bad one@example.org\" is not valid");
  EXPECT_FALSE(ParseSmtpPort("65536"));
  EXPECT_FALSE(ParseSmtpPort("25x"));
  EXPECT_EQ(*ParseSmtpPort("587"), 587);
}

}  // namespace
}  // namespace zentrove::transfer
