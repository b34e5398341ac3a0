#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace korvo {

// Keeps one desktop application per user: the first process takes a lock file and listens on a
// local socket next to it; a later process asks that one to show its window and then leaves.
// Without this, a second launch would add a second tray icon and a second upload loop.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,     // this process is the instance; reopenRequested fires on later launches
        forwarded,   // another instance runs and was asked to show its window
        unreachable, // another instance holds the lock but did not answer in time
        unguarded,   // the folder or the socket cannot be used: run without the guard
    };

    // `directory` holds the lock file and the socket; it is created (mode 0700) when missing.
    explicit SingleInstance(QString directory, QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/korvo-connector, else a per-user folder under the temporary folder.
    static QString defaultDirectory();

    // Takes the lock or hands the launch over to the running instance, with the launch's
    // activation token when `launchToken` gives one. Only local files and a local socket are
    // involved, so this returns within `forwardTimeoutMs` (and the token's making) at most.
    Role claim(int forwardTimeoutMs = 2000, const std::function<QString()>& launchToken = {});

    QString socketPath() const;

Q_SIGNALS:
    // A later launch asked this (primary) instance to show itself. `activationToken` is the
    // desktop's proof that the person launched it (printable, without spaces, at most 200
    // characters), with which the window may take the focus; empty when there was none.
    void reopenRequested(const QString& activationToken);

private:
    bool forward(int timeoutMs, const QByteArray& message);
    void acceptConnections();

    QString directory_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace korvo
