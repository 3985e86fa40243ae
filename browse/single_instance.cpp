// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/single_instance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSettings>
#include <QStringList>

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

QString InstanceSocketName() {
  const QByteArray file = QSettings().fileName().toUtf8();
  return QStringLiteral("inkbrite-") +
         QString::fromLatin1(
             QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex().left(16));
}

bool PassToRunningInstance(const std::vector<fs::path>& paths, const QString& name, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(name);
  if (!socket.waitForConnected(timeoutMs)) return false;
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
  // A viewer that answers keeps the name (listening would take its socket
  // file from it); a file left behind by one that did not end cleanly is
  // taken over.
  QLocalSocket probe;
  probe.connectToServer(name);
  if (probe.waitForConnected(200)) return false;
  if (m_server->listen(name)) return true;
  if (m_server->serverError() != QAbstractSocket::AddressInUseError) return false;
  QLocalServer::removeServer(name);
  return m_server->listen(name);
}

void CInstanceServer::Close() {
  if (m_server->isListening()) m_server->close();
}

bool CInstanceServer::IsListening() const { return m_server->isListening(); }

void CInstanceServer::OnConnection() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (socket->bytesAvailable() > kMaxInstanceMessage) {
        socket->abort();
        return;
      }
      QDataStream in(socket);
      in.startTransaction();
      quint32 magic = 0, count = 0;
      in >> magic >> count;
      // The count is checked before any path is read: a list is never
      // made to the size a message claims.
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
        // Incomplete: wait for the rest; garbage: drop the connection.
        if (in.status() != QDataStream::ReadPastEnd) socket->abort();
        return;
      }
      socket->putChar(kTaken);
      socket->flush();
      std::vector<fs::path> paths;
      for (const QString& path : list) {
        if (!path.isEmpty()) paths.emplace_back(path.toStdString());
      }
      if (m_received) m_received(paths);
    });
  }
}

}  // namespace inkbrite
