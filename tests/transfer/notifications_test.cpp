#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "core/options.h"
#include "core/task_list.h"
#include "engine/run_context.h"
#include "log/log.h"
#include "transfer/mail_notification.h"
#include "transfer/net_send.h"
#include "transfer/notification_hooks.h"
#include "transfer/smtp_server_fixture.h"

namespace zentrove::transfer {
namespace {

using testing::ReadFile;

// A task's notifications against the local server, with fake smbclient on PATH that records its
// arguments and standard input into the server's event log.
class NotificationTest : public testing::SmtpServerTest {
 protected:
  void SetUp() override {
    SmtpServerTest::SetUp();
    savedPath_ = std::getenv("PATH");
    const auto bin = MakeDir("bin");
    WriteFile("bin/smbclient",
              "#!/bin/sh\ndir=\"" + OutDir() + "\"\nmkdir -p \"$dir\"\n" +
                  "echo \"NETSEND $*\" >> \"$dir/events.log\"\ncat > \"$dir/netsend.txt\"\n");
    std::filesystem::permissions(bin / "smbclient", std::filesystem::perms::owner_all);
    setenv("PATH", (bin.string() + ":" + savedPath_).c_str(), 1);
    log::SetLogFolder(ConfigFolderText());
    SetNotificationTimeouts(SmtpTimeouts{std::chrono::seconds(5), std::chrono::seconds(10),
                                         std::chrono::seconds(10), std::chrono::seconds(20)});
    task_.TaskNumber = 1004;
    task_.Description = "Documents";
    task_.SendEMail = true;
    task_.SendAddress = "ops@example.org, boss@example.org";
    task_.SendSubj = "Run of [num]\r\n";
    task_.SE_When = 2;
  }
  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    log::SetLogFolder({});
    SmtpServerTest::TearDown();
  }

  void UseServer() {
    core::ProgramOptions options;
    options.SMTPHost = "127.0.0.1";
    options.SMTPPort = std::to_string(Port());
    options.SMTPUserAddress = "backup@example.org";
    options.SMTPUserName = "Zentrove";
    options.WriteToEventLog = false;
    core::SetCurrentOptions(options);
  }

  void Notify(bool failed, const std::string& archive = {}) {
    engine::TArhVCLZip run(task_);
    SendNotifications(engine::RunNotification{
        task_, failed, "09.12.2026 10:00:00:[1004][I] The Task finished", "", archive, run});
    ASSERT_TRUE(WaitForNotifications(std::chrono::seconds(60)));
    ASSERT_TRUE(WaitForNetMessages(std::chrono::seconds(10)));
  }

  std::string Log() const { return ReadFile(ConfigDir() / "Zentrove.log"); }

  core::TArhRecord task_;
  std::string savedPath_;
};

TEST_F(NotificationTest, MailCarriesTemplateMacrosAndCurrentRunThenTheNetworkMessageFollows) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain"));
  UseServer();
  WriteFile("config/1004.bdy", "Task [NUM]: [Description]\r\nsecond line\r\n");
  const std::string marker = RunStartMarker();
  WriteFile("config/Zentrove.log",
            "a:[1004][I] Task started  [3.7.0-1]\r\n"
            "b:[1004][I] old run\r\n"
            "c:[1004][I] Task started  " +
                marker +
                "\r\n"
                "d:[1005][I] another task\r\n"
                "e:[1004][I] Task started  " +
                marker +
                "\r\n"
                "f:[1004][I] latest run\r\n");
  task_.SendCurLog = true;
  task_.SendNet = true;
  task_.NS_When = 2;
  task_.NetSend_user = "bob";
  task_.PauseTask = true;  // the e-mail does not wait for a paused task
  ASSERT_NO_FATAL_FAILURE(Notify(false));

  ASSERT_TRUE(WaitForMessage());
  const auto parsed = Parse(MessagePath());
  EXPECT_EQ(First(parsed, "subject"), "Run of 1004");
  EXPECT_EQ(First(parsed, "text"),
            "ZENTROVE NOTIFICATION:09.12.2026 10:00:00:[1004][I] The Task finished\\nTask 1004: Documents\\n"
            "second line\\n---\\ne:[1004][I] Task started  " +
                marker + "\\nf:[1004][I] latest run\\n");
  const std::string events = Events();
  EXPECT_NE(events.find("RCPT ops@example.org\nRCPT boss@example.org\nDATA"), std::string::npos) << events;
  const std::size_t data = events.find("DATA");
  const std::size_t net = events.find("NETSEND -N -M bob");
  ASSERT_NE(net, std::string::npos) << events;
  EXPECT_LT(data, net);
  EXPECT_EQ(ReadFile(Sandbox() / "server" / "netsend.txt"),
            "ZENTROVE NOTIFICATION:09.12.2026 10:00:00:[1004][I] The Task finished");
  const std::string log = Log();
  EXPECT_NE(log.find("[1004][I] E-mail transfer has started:  \"ops@example.org, boss@example.org\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("[1004][I] E-mail was successfully sent to:  \"ops@example.org, boss@example.org\""),
            std::string::npos)
      << log;
}

TEST_F(NotificationTest, WhenRuleAndArchiveRulesDecideWhatIsSent) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain"));
  UseServer();
  const auto archive = WriteFile("target/backup.zip", std::string("PK\x03\x04 archive", 12));
  task_.SendZip = true;
  task_.SE_When = 1;
  ASSERT_NO_FATAL_FAILURE(Notify(false, archive.string()));
  EXPECT_EQ(Log().find("E-mail transfer has started"), std::string::npos);

  // A failed run sends, but never the archive of the failed run.
  ASSERT_NO_FATAL_FAILURE(Notify(true, archive.string()));
  ASSERT_TRUE(WaitForMessage(1));
  EXPECT_EQ(First(Parse(MessagePath(1)), "attachment"), "");

  task_.SE_When = 0;
  task_.SendLog = true;
  ASSERT_NO_FATAL_FAILURE(Notify(false, archive.string()));
  ASSERT_TRUE(WaitForMessage(2));
  const auto parsed = Parse(MessagePath(2));
  std::vector<std::string> names;
  for (auto [it, end] = parsed.equal_range("attachment"); it != end; ++it)
    names.push_back(it->second.substr(0, it->second.find(' ')));
  EXPECT_EQ(names, (std::vector<std::string>{"Zentrove.log", "backup.zip"}));

  // In copy mode there is no archive to attach.
  task_.SendLog = false;
  task_.ArchiveOrCopy = 1;
  ASSERT_NO_FATAL_FAILURE(Notify(false, archive.string()));
  ASSERT_TRUE(WaitForMessage(3));
  EXPECT_EQ(First(Parse(MessagePath(3)), "attachment"), "");
}

TEST_F(NotificationTest, FailedMailIsLoggedWithItsReasonAndTheNetworkMessageStillGoes) {
  ASSERT_NO_FATAL_FAILURE(StartServer("reject"));
  UseServer();
  task_.SendNet = true;
  task_.NS_When = 1;
  task_.NetSend_user = "-oInclude=/etc/passwd";
  ASSERT_NO_FATAL_FAILURE(Notify(true));
  const std::string log = Log();
  EXPECT_NE(
      log.find("[1004][E] Failed to send e-mail:  \"ops@example.org, boss@example.org\" [The server refused "
               "the message: 552 5.3.4 Message too big for this test]"),
      std::string::npos)
      << log;
  EXPECT_NE(
      log.find(
          "[1004][W] The network message was not sent: \"-oInclude=/etc/passwd\" is not a recipient name"),
      std::string::npos)
      << log;
  EXPECT_EQ(Events().find("NETSEND"), std::string::npos);
}

TEST_F(NotificationTest, RunCommandEndsOnlyOnceTheEmailIsOut) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain"));
  const std::string home = MakeDir("home").string();
  const std::string program = "HOME=" + testing::ShellQuote(home) +
                              " XDG_CONFIG_HOME=" + testing::ShellQuote(home) +
                              " XDG_DATA_HOME=" + testing::ShellQuote(home) + " " + ZENTROVE_PROGRAM + " ";
  ASSERT_EQ(testing::RunCommand(program + "option SMTPHost=127.0.0.1 SMTPPort=" + std::to_string(Port()) +
                                " SMTPUserAddress=me@example.org WriteToEventLog=0")
                .status,
            0);
  const testing::CommandResult added = testing::RunCommand(program + "add");
  ASSERT_EQ(added.status, 0);
  const std::string number = added.output.substr(0, added.output.find('\n'));
  ASSERT_EQ(testing::RunCommand(
                program + "set " + number +
                " SendEMail=1 SendAddress=you@example.org SE_When=2 ExecuteZip=0 'SendSubj=Task [Num]'")
                .status,
            0);
  EXPECT_EQ(testing::RunCommand(program + "run " + number).status, 0);
  ASSERT_TRUE(std::filesystem::exists(MessagePath()));
  EXPECT_EQ(First(Parse(MessagePath()), "subject"), "Task " + number);

  const testing::CommandResult tested = testing::RunCommand(program + "smtp-test");
  EXPECT_EQ(tested.status, 0);
  EXPECT_EQ(tested.output, "SMTP Test: Ok\n");
  ASSERT_TRUE(WaitForMessage(2));
  const auto parsed = Parse(MessagePath(2));
  EXPECT_EQ(First(parsed, "subject"), "Zentrove SMTP Test Message");
  EXPECT_EQ(First(parsed, "text"), "---------Zentrove SMTP Test Message------------\\nSMTP Test: Ok\\n");
  EXPECT_NE(Events().find("RCPT me@example.org"), std::string::npos);
}

TEST(SmtpConnectionTestTest, APortThatIsNoNumberIsRefusedBeforeConnecting) {
  core::ProgramOptions fields;
  fields.SMTPHost = "127.0.0.1";
  fields.SMTPPort = "25a";
  fields.SMTPUserAddress = "me@example.org";
  EXPECT_EQ(SmtpConnectionTest(fields).Message(), "The SMTP port \"25a\" is not a number from 1 to 65535");
}

TEST_F(NotificationTest, HangUpWaitsUntilTheEmailHasEnded) {
  ASSERT_NO_FATAL_FAILURE(StartServer("silent"));
  UseServer();
  SetNotificationTimeouts(SmtpTimeouts{std::chrono::seconds(5), std::chrono::milliseconds(800),
                                       std::chrono::seconds(5), std::chrono::seconds(5)});
  WriteFile("bin/nmcli", "#!/bin/sh\ncase \"$*\" in *--active) ;; *show) echo 'VPN:vpn' ;; esac\n");
  std::filesystem::permissions(Sandbox() / "bin" / "nmcli", std::filesystem::perms::owner_all);
  engine::RunEnvironment environment;
  InstallNotificationHooks(environment);
  const engine::RunHooks hooks = environment.Hooks();
  task_.RASDial = "VPN";
  engine::TArhVCLZip run(task_);
  hooks.SendNotifications(engine::RunNotification{task_, false, "done", "", "", run});
  hooks.HangUpDialUp(task_);
  ASSERT_TRUE(WaitForNotifications(std::chrono::seconds(30)));
  const std::string log = Log();
  const std::size_t failed = log.find(
      "Failed to send e-mail:  \"ops@example.org, boss@example.org\" [The server did "
      "not answer in time]");
  const std::size_t hungUp = log.find("[1004][I] Interface is already disconnected");
  ASSERT_NE(failed, std::string::npos) << log;
  ASSERT_NE(hungUp, std::string::npos) << log;
  EXPECT_LT(failed, hungUp);
}

TEST_F(NotificationTest, TaskShowsTheProgressOfItsEmail) {
  ASSERT_NO_FATAL_FAILURE(StartServer("plain"));
  UseServer();
  WriteFile("target/backup.zip", std::string(300 * 1024, 'z'));
  core::TArhList list((ConfigDir() / "ArhTasks.bpd").string());
  auto owned = std::make_unique<core::TArhRecord>();
  core::CopyTaskRecord(task_, *owned);
  owned->SendZip = true;
  core::TArhRecord* task = list.ListAppend(std::move(owned));
  SetNotificationTaskList(&list);
  engine::TArhVCLZip run(*task);
  SendNotifications(
      engine::RunNotification{*task, false, "done", "", (Sandbox() / "target/backup.zip").string(), run});
  ASSERT_TRUE(WaitForNotifications(std::chrono::seconds(30)));
  SetNotificationTaskList(nullptr);
  EXPECT_EQ(task->StatusText2.get(), "SMTP send: ...");
  EXPECT_TRUE(task->StatusText1.get().starts_with("SMTP Send: ")) << task->StatusText1.get();
  EXPECT_TRUE(task->StatusText1.get().ends_with("Kb"));
}

TEST(NetSendTest, RecipientsThatCouldBeOptionsOrHoldBlanksAreRefused) {
  for (const char* good : {"bob", "PC-04", "bob@WORKGROUP"})
    EXPECT_TRUE(CheckNetSendRecipient(good)) << good;
  for (const char* bad : {"", "-bob", "bob smith", "bob\n", "a\tb", "x\x7f"}) {
    EXPECT_FALSE(CheckNetSendRecipient(bad)) << bad;
  }
}

TEST(CurrentRunLinesTest, WithoutThisProcessesStartLineEveryLineOfTheTaskIsKept) {
  const std::string log = "a:[7][I] one\nb:[17][I] other\r\nc:[7][I] Task started  [1.0-1]\nd:[7][E] two\n";
  EXPECT_EQ(CurrentRunLines(log, 7, "[9.9-9]"),
            (std::vector<std::string>{"a:[7][I] one", "c:[7][I] Task started  [1.0-1]", "d:[7][E] two"}));
  EXPECT_EQ(CurrentRunLines(log, 7, "[1.0-1]"),
            (std::vector<std::string>{"c:[7][I] Task started  [1.0-1]", "d:[7][E] two"}));
}

}  // namespace
}  // namespace zentrove::transfer
