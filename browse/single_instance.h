// SPDX-License-Identifier: GPL-2.0-or-later
// One viewer at a time, as a choice (窗口 > 只运行一个 Inkbrite, kept in
// the settings, off by default): a viewer started while another runs hands
// what its command line names to the running one over a local socket and
// ends; the running one opens it and comes to the front.
//
// The socket is the user's own (owner-only access), named after the
// settings file, so viewers sharing settings share one instance. A message
// is a magic number, a count and the absolute paths (QDataStream); anything
// else, more than 10,000 paths or more than kMaxInstanceMessage bytes, is
// dropped with the connection. The receiver answers one byte once it has taken the list.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <vector>

class QLocalServer;

namespace inkbrite {

inline constexpr qint64 kMaxInstanceMessage = 1 << 20;

bool SingleInstanceChosen();
void SetSingleInstanceChosen(bool on);

// The socket's name for the settings in use.
QString InstanceSocketName();

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

 private:
  void OnConnection();

  Received m_received;
  QLocalServer* m_server;
};

}  // namespace inkbrite
