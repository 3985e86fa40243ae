// SPDX-License-Identifier: GPL-2.0-or-later
// One viewer at a time, as a choice (窗口 > 只运行一个 Inkbrite, kept in
// the settings, off by default): a viewer started while another runs hands
// what its command line names to the running one over a local socket and
// ends; the running one opens it and comes to the front.
//
// The socket is named after the settings file, so viewers sharing settings
// share one instance, and lies in the user's own runtime folder
// ($XDG_RUNTIME_DIR when it is a folder of the user's alone, else a folder of
// ours in the temporary folder, made 0700 and refused when another user
// owns it): no other account can put a socket where we look. Both ends check
// the other's user id (SO_PEERCRED), and a viewer never hands its paths to a
// socket file that is not the user's own.
//
// A message is a magic number, a count and the absolute paths (QDataStream);
// anything else, more than 10,000 paths or more than kMaxInstanceMessage
// bytes, is dropped with the connection, as is a connection idle longer than
// the idle limit; at most kMaxInstanceConnections are held at once (a new
// one beyond them drops the oldest). The receiver answers one byte once it
// has taken the list.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace inkbrite {

inline constexpr qint64 kMaxInstanceMessage = 1 << 20;
inline constexpr int kMaxInstanceConnections = 8;
inline constexpr int kInstanceIdleMs = 5000;

bool SingleInstanceChosen();
void SetSingleInstanceChosen(bool on);

// The socket's path for the settings in use; empty when no private folder
// can be had for it (one viewer at a time is then not offered).
QString InstanceSocketName();

// The private folder the socket lives in (made when missing); empty when
// $XDG_RUNTIME_DIR is not the user's alone and ours is another's.
QString InstanceSocketFolder();

// Hands `paths` (made absolute) to the viewer listening on `name`; true
// once it has taken them, false when none answers within `timeoutMs`.
// Blocking: for the start-up, before the event loop runs.
bool PassToRunningInstance(const std::vector<std::filesystem::path>& paths,
                           const QString& name = InstanceSocketName(), int timeoutMs = 2000);

// The listening end: `received` gets each list that arrives.
class CInstanceServer : public QObject {
  Q_OBJECT

 public:
  using Received = std::function<void(const std::vector<std::filesystem::path>&)>;
  explicit CInstanceServer(Received received, QObject* parent = nullptr);
  ~CInstanceServer() override;

  // Listens on `name`, taking over a socket file left by a viewer that
  // ended without removing it; false when it cannot.
  bool Listen(const QString& name = InstanceSocketName());
  void Close();
  bool IsListening() const;
  // The connections held now, and how long one may stay idle (tests).
  int Connections() const;
  void SetIdleLimit(int ms) { m_idleMs = ms; }

 private:
  void OnConnection();
  void Take(QLocalSocket* socket);
  void OnReadyRead(QLocalSocket* socket);

  Received m_received;
  QLocalServer* m_server;
  int m_idleMs = kInstanceIdleMs;
  std::vector<QLocalSocket*> m_open;  // oldest first
};

}  // namespace inkbrite
