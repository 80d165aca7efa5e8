#include <csignal>
#include <optional>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/qt_test.hpp"
#include "base/desktop_program.hpp"

namespace velk {
namespace {

constexpr int kSettleMs = 200;

class DesktopProgramTest : public ::testing::Test {
protected:
    void SetUp() override { test::ensureApplication<QApplication>(); }

    // A shell script that runs `body`.
    QString script(const QString& name, const QString& body) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(("#!/bin/sh\n" + body + "\n").toLocal8Bit());
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }
    QString pathOf(const QString& name) const { return m_dir.filePath(name); }

    // The answer for `program`, waiting for it as long as it may take.
    static std::optional<bool> opened(const QString& program, QObject* context = nullptr) {
        QObject owner;
        std::optional<bool> answer;
        int answers = 0;
        startDesktopProgram(program, {QStringLiteral("wifi")}, kSettleMs, context ? context : &owner,
                            [&](bool value) { answer = value, ++answers; });
        test::waitUntil([&] { return answer.has_value(); });
        test::runFor(kSettleMs + 100); // a second answer would come by now
        EXPECT_LE(answers, 1) << program.toStdString();
        return answer;
    }

    QTemporaryDir m_dir;
};

TEST_F(DesktopProgramTest, OpenedMeansStillRunningOrEndedWell) {
    const struct {
        const char* name;
        const char* body;
        bool opened;
    } cases[] = {
        {"hands-over", "exit 0", true},           // a launcher that passed the request on
        {"wrong-desktop", "exit 1", false},       // started, then refused at once
        {"killed", "kill -TERM $$", false},        // ended by a signal
        {"stays", "exec sleep 3", true},          // the settings window is up
    };
    for (const auto& c : cases) {
        EXPECT_EQ(opened(script(c.name, c.body)), c.opened) << c.name;
    }
    EXPECT_EQ(opened(pathOf(QStringLiteral("not-installed"))), false);
}

TEST_F(DesktopProgramTest, TheProgramGetsASessionOfItsOwnAndNoneOfOurOutput) {
    const QString pidFile = pathOf(QStringLiteral("pid"));
    const QString program =
        script(QStringLiteral("settings"), QStringLiteral("echo $$ > '%1'\nexec sleep 30").arg(pidFile));
    ASSERT_EQ(opened(program), true);
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t pid = file.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(getsid(pid), pid);
    for (const char* stream : {"0", "1", "2"}) {
        EXPECT_EQ(QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(pid).arg(stream)),
                  QStringLiteral("/dev/null"))
            << stream;
    }
    ::kill(pid, SIGTERM);
    // Reaped once it ends: no zombie is left behind.
    EXPECT_TRUE(test::waitUntil([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(pid)); }));
}

TEST_F(DesktopProgramTest, NothingIsAnsweredOnceTheAskerIsGone) {
    bool answered = false;
    auto* asker = new QObject;
    startDesktopProgram(script(QStringLiteral("slow-fail"), QStringLiteral("sleep 0.1; exit 1")), {}, kSettleMs, asker,
                        [&](bool) { answered = true; });
    delete asker;
    test::runFor(kSettleMs + 200);
    EXPECT_FALSE(answered);
}

} // namespace
} // namespace velk
