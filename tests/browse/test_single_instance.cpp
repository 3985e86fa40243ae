// SPDX-License-Identifier: GPL-2.0-or-later
// One viewer at a time: a later start hands its paths to the running viewer
// over the local socket, which opens them; the choice is kept; a message
// that is not one of ours opens nothing and leaves the viewer listening.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>

#include "browse/services/single_instance.h"
#include "tests/browse/browse_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;
using ui_test::WaitFor;
using ui_test::WritePage;

class SingleInstanceTest : public ui_test::AppTest {
 protected:
  void TearDown() override {
    app->SetSingleInstance(false);
    AppTest::TearDown();
  }
  // Hands `paths` over from another thread, as a second viewer's start-up
  // does (it blocks until the answer), while this thread runs the events.
  bool PassFromElsewhere(const std::vector<fs::path>& paths) {
    auto passed = std::async(std::launch::async, [paths] { return PassToRunningInstance(paths); });
    EXPECT_TRUE(WaitFor(
        [&] { return passed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return passed.get();
  }
};

TEST_F(SingleInstanceTest, ALaterStartOpensItsPathsInTheRunningViewer) {
  WritePage(dir / "a.bmp", 40, 30);
  WritePage(dir / "b.bmp", 40, 30);
  // Off by default: nobody listens, a later start goes on by itself.
  EXPECT_FALSE(SingleInstanceChosen());
  EXPECT_FALSE(app->IsSingleInstance());
  EXPECT_FALSE(PassToRunningInstance({dir / "a.bmp"}, InstanceSocketName(), 300));

  ASSERT_NE(app->OpenDocumentFile(dir / "a.bmp"), nullptr);
  Frame()->Action(kCmdSingleInstance)->trigger();
  EXPECT_TRUE(app->IsSingleInstance());
  EXPECT_TRUE(SingleInstanceChosen());
  EXPECT_TRUE(Frame()->Action(kCmdSingleInstance)->isChecked());

  EXPECT_TRUE(PassFromElsewhere({dir / "b.bmp"}));
  ASSERT_TRUE(WaitFor([&] {
    CInkbriteDoc* doc = Frame()->ActiveDocument();
    return doc && doc->PathName() == dir / "b.bmp";
  }));
  EXPECT_EQ(Frame()->Children().size(), 2u);
  // A start naming nothing only brings the viewer forward.
  EXPECT_TRUE(PassFromElsewhere({}));
  EXPECT_EQ(Frame()->Children().size(), 2u);
  EXPECT_TRUE(messages.empty());

  Frame()->Action(kCmdSingleInstance)->trigger();
  EXPECT_FALSE(app->IsSingleInstance());
  EXPECT_FALSE(SingleInstanceChosen());
  EXPECT_FALSE(PassToRunningInstance({dir / "a.bmp"}, InstanceSocketName(), 300));
}

// Bytes that are not a list of paths, or a list claiming more paths than
// any start-up names, are dropped with their connection: nothing opens, no
// list is made to the claimed size, and the viewer still takes a true list.
TEST_F(SingleInstanceTest, AForeignMessageOpensNothing) {
  WritePage(dir / "a.bmp", 40, 30);
  ASSERT_TRUE(app->SetSingleInstance(true));
  const auto send = [](QByteArray bytes) {
    return std::async(std::launch::async, [bytes] {
      QLocalSocket socket;
      socket.connectToServer(InstanceSocketName());
      if (!socket.waitForConnected(2000)) return QByteArray("no connection");
      socket.write(bytes);
      socket.waitForBytesWritten(2000);
      // Dropped: the connection closes without an answer.
      socket.waitForReadyRead(1500);
      return socket.readAll();
    });
  };
  QByteArray huge;
  {
    QDataStream out(&huge, QIODevice::WriteOnly);
    out << quint32(0x496b6231) << quint32(0xFFFFFFFF);
  }
  for (const QByteArray& bytes : {QByteArray("GET / HTTP/1.0\r\n\r\n"), huge}) {
    auto reply = send(bytes);
    ASSERT_TRUE(WaitFor(
        [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(reply.get(), QByteArray());
  }
  EXPECT_TRUE(Frame()->Children().empty());
  EXPECT_TRUE(PassFromElsewhere({dir / "a.bmp"}));
  EXPECT_TRUE(WaitFor([&] { return Frame()->Children().size() == 1u; }));
}

// A socket file left by a viewer that ended without removing it is taken
// over; one that still answers is not.
TEST_F(SingleInstanceTest, AStaleSocketIsTakenOverALiveOneIsNot) {
  const QString name = InstanceSocketName() + QStringLiteral("-test");
  CInstanceServer first([](const std::vector<fs::path>&) {});
  ASSERT_TRUE(first.Listen(name));
  CInstanceServer second([](const std::vector<fs::path>&) {});
  EXPECT_FALSE(second.Listen(name));
  EXPECT_TRUE(first.IsListening());
  // Left behind: a socket file bound once and never listened on.
  first.Close();
  const std::string path = name.toStdString();
  ASSERT_FALSE(fs::exists(path));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
  ASSERT_TRUE(fs::exists(path));
  EXPECT_TRUE(second.Listen(name));
  second.Close();
}

// Sets an environment variable for its lifetime (unset: nullopt).
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    Set(value);
  }
  ~ScopedEnvironment() { Set(m_old); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  void Set(const std::optional<std::string>& value) {
    if (value) {
      setenv(m_name, value->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

bool IsOwnSocketFile(const QString& path) {
  struct stat st {};
  return ::lstat(path.toStdString().c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
         st.st_uid == ::geteuid();
}

// The socket lies where no other account can put one: the user's runtime
// folder when it is the user's alone, else a folder of ours made 0700; a
// folder of that name taken by another user, or a link, is refused (one
// viewer at a time is then not offered, and no path goes anywhere).
TEST_F(SingleInstanceTest, TheSocketLiesInAFolderOfTheUsersAlone) {
  const fs::path run = dir / "run", temp = dir / "tmp";
  fs::create_directories(run);
  fs::create_directories(temp);
  ASSERT_EQ(::chmod(run.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(temp.c_str(), 01777), 0);
  ScopedEnvironment runtime("XDG_RUNTIME_DIR", run.string());
  ScopedEnvironment tmpdir("TMPDIR", temp.string());
  EXPECT_EQ(fs::path(InstanceSocketName().toStdString()).parent_path(), run);

  const fs::path ours = temp / ("inkbrite-" + std::to_string(::geteuid()));
  for (const std::optional<std::string>& unsafe :
       {std::optional<std::string>(std::nullopt), std::optional<std::string>("relative/run")}) {
    runtime.Set(unsafe);
    EXPECT_EQ(fs::path(InstanceSocketName().toStdString()).parent_path(), ours);
    EXPECT_EQ(ModeOf(ours) & 07777, 0700u);
  }
  // Open to others: not used; ours is made private again.
  runtime.Set(run.string());
  ASSERT_EQ(::chmod(run.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(ours.c_str(), 0777), 0);
  EXPECT_EQ(fs::path(InstanceSocketName().toStdString()).parent_path(), ours);
  EXPECT_EQ(ModeOf(ours) & 07777, 0700u);
  ASSERT_TRUE(app->SetSingleInstance(true));
  EXPECT_TRUE(IsOwnSocketFile(InstanceSocketName()));
  app->SetSingleInstance(false);

  // Ours taken by a link to a folder of ours, or by another user.
  fs::remove_all(ours);
  fs::create_directory_symlink(run, ours);
  EXPECT_EQ(InstanceSocketName(), QString());
  EXPECT_FALSE(app->SetSingleInstance(true));
  EXPECT_FALSE(PassToRunningInstance({dir / "a.bmp"}, InstanceSocketName(), 300));
  fs::remove(ours);
  if (::geteuid() == 0) {
    fs::create_directory(ours);
    ASSERT_EQ(::chown(ours.c_str(), 65534, 65534), 0);
    EXPECT_EQ(InstanceSocketName(), QString());
  }
}

// Another account never gets the paths: not through a socket file it owns
// (however it came to be where we look), and a listener refuses a peer of
// another user. (Needs the right to give files and processes away.)
TEST_F(SingleInstanceTest, PathsNeverGoToOrComeFromAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const fs::path open = dir / "open";
  fs::create_directories(open);
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  const QString name = QString::fromStdString((open / "inkbrite-test").string());
  int received = 0;
  CInstanceServer server([&](const std::vector<fs::path>&) { ++received; });
  ASSERT_TRUE(server.Listen(name));
  ASSERT_EQ(::chown(name.toStdString().c_str(), 65534, 65534), 0);
  auto passed = std::async(std::launch::async, [name, this] {
    return PassToRunningInstance({dir / "a.bmp"}, name, 2000);
  });
  ASSERT_TRUE(WaitFor(
      [&] { return passed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_FALSE(passed.get());

  // A process of another user connecting with a true message.
  ASSERT_EQ(::chown(name.toStdString().c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(name.toStdString().c_str(), 0777), 0);
  QByteArray message;
  {
    QDataStream out(&message, QIODevice::WriteOnly);
    out << quint32(0x496b6231) << quint32(1) << QStringLiteral("/etc/hostname");
  }
  const std::string path = name.toStdString();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only system calls here: 0 when dropped unanswered, else 1 or 2.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) ::_exit(2);
    if (::write(fd, message.constData(), message.size()) != message.size()) ::_exit(0);
    pollfd wait{fd, POLLIN, 0};
    char reply = 0;
    if (::poll(&wait, 1, 3000) == 1 && ::read(fd, &reply, 1) == 1) ::_exit(1);
    ::_exit(0);
  }
  int status = -1;
  bool ended = false;
  ASSERT_TRUE(
      WaitFor([&] { return ended = ended || ::waitpid(child, &status, WNOHANG) == child; }, 10000));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(received, 0);
  server.Close();
}

// A connection that says nothing is dropped after the idle limit, and at
// most a bounded number are held at once; a true list still gets through.
TEST_F(SingleInstanceTest, IdleConnectionsAreBoundedAndDropped) {
  WritePage(dir / "a.bmp", 40, 30);
  ASSERT_TRUE(app->SetSingleInstance(true));
  CInstanceServer server([](const std::vector<fs::path>&) {});
  const QString name = InstanceSocketName() + QStringLiteral("-idle");
  server.SetIdleLimit(400);
  ASSERT_TRUE(server.Listen(name));
  std::vector<std::unique_ptr<QLocalSocket>> idle;
  for (int i = 0; i < 3 * kMaxInstanceConnections; ++i) {
    idle.push_back(std::make_unique<QLocalSocket>());
    idle.back()->connectToServer(name);
    ASSERT_TRUE(idle.back()->waitForConnected(2000));
    QApplication::processEvents();
    EXPECT_LE(server.Connections(), kMaxInstanceConnections);
  }
  EXPECT_TRUE(WaitFor([&] { return server.Connections() == kMaxInstanceConnections; }));
  EXPECT_TRUE(WaitFor([&] { return server.Connections() == 0; }));
  EXPECT_TRUE(PassFromElsewhere({dir / "a.bmp"}));
  EXPECT_TRUE(WaitFor([&] { return Frame()->Children().size() == 1u; }));
  server.Close();
}

}  // namespace
}  // namespace inkbrite
