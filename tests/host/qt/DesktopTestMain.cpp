// The Qt tests' main: a QApplication on the offscreen platform without a desktop theme, with Qt's
// own dialogs; or, for the desktop tests built with REMCONS_TEST_X_SERVER (1: Xvfb, 2: Xorg with
// the dummy driver), on an X server that it starts for the run and ends after it. When that server
// cannot run, the tests that need it skip and say why.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "host/qt/XServer.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
#if REMCONS_TEST_X_SERVER
  // Declared before the application: the server goes after the application connected to it.
  using remcons::testing::XServer;
  std::unique_ptr<XServer> server;
  if (!GTEST_FLAG_GET(list_tests)) {
    std::string& error = remcons::testing::XServerMissing();
    server = REMCONS_TEST_X_SERVER == 1
                 ? XServer::StartXvfb(1280, 1024, &error)
                 : XServer::StartXorgDummy({"1280x1024", "1024x768", "800x600", "640x480"}, &error);
    if (server) {
      // The pointer rests near the lower left corner of the windows the tests open (at the
      // screen's origin, 1024 x 768 at first): inside them, so that no real crossing ends the
      // tests' own pointer movements, and away from the bar and the points the tests use.
      server->WarpPointer(4, 760);
      qputenv("DISPLAY", QByteArray::fromStdString(server->display()));
      qputenv("QT_QPA_PLATFORM", "xcb");
      remcons::testing::TestDisplay() = server->display();
    }
  }
#endif
  qunsetenv("WAYLAND_DISPLAY");
  qputenv("QT_QPA_PLATFORMTHEME", "");
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
