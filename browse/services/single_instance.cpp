// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

constexpr quint32 kMagic = 0x496b6231;  // "Ikb1"
constexpr char kTaken = 'k';
constexpr quint32 kMaxInstancePaths = 10000;
const QString kSettingKey = QStringLiteral("View/SingleInstance");

}  // namespace

bool SingleInstanceChosen() { return QSettings().value(kSettingKey, false).toBool(); }

void SetSingleInstanceChosen(bool on) { QSettings().setValue(kSettingKey, on); }

namespace {

// A folder (not a link to one) of this user's alone: no access for group
// or others.
bool IsPrivateFolder(const std::string& folder) {
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

// A socket file of this user's (the folder it lies in is checked apart).
bool IsOwnSocket(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode) &&
         st.st_uid == ::geteuid();
}

// The user id of the process at the other end of a connected socket.
bool PeerIsThisUser(const QLocalSocket& socket) {
  const qintptr fd = socket.socketDescriptor();
  ucred peer{};
  socklen_t length = sizeof(peer);
  return fd >= 0 &&
         ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
         length == sizeof(peer) && peer.uid == ::geteuid();
}

}  // namespace

QString InstanceSocketFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime)) {
    return QFile::decodeName(runtime);
  }
  // Ours in the temporary folder: made private, or refused when another
  // user has taken the name first.
  const std::string folder = QFile::encodeName(QDir::tempPath()).toStdString() + "/inkbrite-" +
                             std::to_string(::geteuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    return {};
  }
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return {};
  return IsPrivateFolder(folder) ? QFile::decodeName(folder.c_str()) : QString();
}

QString InstanceSocketName() {
  const QString folder = InstanceSocketFolder();
  if (folder.isEmpty()) return {};
  const QByteArray file = QSettings().fileName().toUtf8();
  return folder + QStringLiteral("/inkbrite-") +
         QString::fromLatin1(
             QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex().left(16));
}

bool PassToRunningInstance(const std::vector<fs::path>& paths, const QString& name, int timeoutMs) {
  // Never to a socket another user could have put there, nor to a listener
  // of another user.
  if (name.isEmpty() || !IsOwnSocket(name)) return false;
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeoutMs)) return false;
  if (!PeerIsThisUser(socket)) {
    socket.abort();
    return false;
  }
  QStringList list;
  for (const fs::path& path : paths) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    list << QString::fromStdString((ec ? path : absolute).string());
  }
  QByteArray message;
  {
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kMagic << static_cast<quint32>(list.size());
    for (const QString& path : list) out << path;
  }
  if (message.size() > kMaxInstanceMessage) return false;
  socket.write(message);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() < 1) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  }
  char answer = 0;
  return socket.getChar(&answer) && answer == kTaken;
}

CInstanceServer::CInstanceServer(Received received, QObject* parent)
    : QObject(parent), m_received(std::move(received)), m_server(new QLocalServer(this)) {
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(m_server, &QLocalServer::newConnection, this, [this] { OnConnection(); });
}

CInstanceServer::~CInstanceServer() { Close(); }

bool CInstanceServer::Listen(const QString& name) {
  if (m_server->isListening()) return true;
  if (name.isEmpty()) return false;
  // A viewer that answers keeps the name (listening would take its socket
  // file from it); a file left behind by one that did not end cleanly is
  // taken over.
  QLocalSocket probe;
  probe.connectToServer(name);
  if (probe.waitForConnected(200)) return false;
  if (m_server->listen(name)) return true;
  if (m_server->serverError() != QAbstractSocket::AddressInUseError) return false;
  // Only a socket file of our own is removed.
  if (!IsOwnSocket(name)) return false;
  QLocalServer::removeServer(name);
  return m_server->listen(name);
}

void CInstanceServer::Close() {
  if (m_server->isListening()) m_server->close();
}

bool CInstanceServer::IsListening() const { return m_server->isListening(); }

int CInstanceServer::Connections() const { return static_cast<int>(m_open.size()); }

void CInstanceServer::OnConnection() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    if (!PeerIsThisUser(*socket)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    Take(socket);
  }
}

void CInstanceServer::Take(QLocalSocket* socket) {
  // A bounded number held at once: a new one drops the oldest.
  if (static_cast<int>(m_open.size()) >= kMaxInstanceConnections) {
    QLocalSocket* oldest = m_open.front();
    m_open.erase(m_open.begin());
    oldest->abort();
    oldest->deleteLater();
  }
  m_open.push_back(socket);
  socket->setReadBufferSize(kMaxInstanceMessage + 1);
  // A true viewer's message arrives at once; a connection left idle is
  // dropped.
  auto* idle = new QTimer(socket);
  idle->setSingleShot(true);
  connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
  idle->start(m_idleMs);
  connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
    std::erase(m_open, socket);
    socket->deleteLater();
  });
  connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle] {
    idle->start(m_idleMs);
    OnReadyRead(socket);
  });
}

void CInstanceServer::OnReadyRead(QLocalSocket* socket) {
  if (socket->bytesAvailable() > kMaxInstanceMessage) {
    socket->abort();
    return;
  }
  QDataStream in(socket);
  in.startTransaction();
  quint32 magic = 0, count = 0;
  in >> magic >> count;
  // The count is checked before any path is read: a list is never made to
  // the size a message claims.
  if (in.status() == QDataStream::Ok && (magic != kMagic || count > kMaxInstancePaths)) {
    in.abortTransaction();
    socket->abort();
    return;
  }
  QStringList list;
  for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    QString path;
    in >> path;
    list << path;
  }
  if (!in.commitTransaction()) {
    // Incomplete: wait for the rest (within the read buffer's bound and the
    // idle limit); garbage: drop the connection.
    if (in.status() != QDataStream::ReadPastEnd || socket->bytesAvailable() > kMaxInstanceMessage) {
      socket->abort();
    }
    return;
  }
  socket->putChar(kTaken);
  socket->flush();
  std::vector<fs::path> paths;
  for (const QString& path : list) {
    if (!path.isEmpty()) paths.emplace_back(path.toStdString());
  }
  if (m_received) m_received(paths);
}

}  // namespace inkbrite
