// The listening half of the instance claim: a socket notifier on the event loop.
#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "platform/single_instance.h"
#include "platform/single_instance_internal.h"

namespace tidrex::platform {
namespace {

struct Listener {
  std::unique_ptr<QSocketNotifier> notifier;
  std::function<void()> handler;
};

Listener& L() {
  static auto* l = new Listener();
  return *l;
}

void AcceptAll() {
  const int listen_fd = instance_detail::ListenFd();
  for (;;) {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    // The answer goes out first: the later start ends at once, whatever the handler does.
    (void)!write(fd, "ok\n", 3);
    close(fd);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {
          if (L().handler) L().handler();
        },
        Qt::QueuedConnection);
  }
}

}  // namespace

void SetInstanceHandoverHandler(std::function<void()> handler) {
  Listener& l = L();
  l.handler = std::move(handler);
  if (l.notifier || instance_detail::ListenFd() < 0 || !QCoreApplication::instance()) return;
  l.notifier = std::make_unique<QSocketNotifier>(instance_detail::ListenFd(), QSocketNotifier::Read);
  QObject::connect(l.notifier.get(), &QSocketNotifier::activated, [] { AcceptAll(); });
}

void ReleaseInstanceForTesting() {
  Listener& l = L();
  l.notifier.reset();
  l.handler = nullptr;
  for (int* fd : {&instance_detail::ListenFd(), &instance_detail::LockFd()}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace tidrex::platform
