// The smallest Qt Widgets tray program: the yardstick for Quorvel's start and idle cost.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  QPixmap pixmap(22, 22);
  pixmap.fill(QColor(255, 128, 255));
  QSystemTrayIcon icon{QIcon(pixmap)};
  icon.setToolTip(QStringLiteral("baseline"));
  QMenu menu;
  menu.addAction(QStringLiteral("Exit"), &app, &QApplication::quit);
  QObject::connect(&icon, &QSystemTrayIcon::activated, [&menu](QSystemTrayIcon::ActivationReason) {
    menu.popup(QCursor::pos());
  });
  icon.show();
  return app.exec();
}
