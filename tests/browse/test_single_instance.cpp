// SPDX-License-Identifier: GPL-2.0-or-later
// One viewer at a time: a later start hands its paths to the running viewer
// over the local socket, which opens them; the choice is kept; a message
// that is not one of ours opens nothing and leaves the viewer listening.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTest>

#include <cstring>
#include <future>

#include "browse/single_instance.h"
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
  Frame()->OnCommand(kCmdSingleInstance);
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

  Frame()->OnCommand(kCmdSingleInstance);
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
  const std::string path = (QDir::tempPath() + QLatin1Char('/') + name).toStdString();
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

}  // namespace
}  // namespace inkbrite
