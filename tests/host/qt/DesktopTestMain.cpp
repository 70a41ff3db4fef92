// The desktop tests' main: a QApplication on the offscreen platform, or on an X server that it
// starts for the run (REMCONS_TEST_X_SERVER 1: Xvfb, 2: Xorg with the dummy driver) and ends after
// it. When that server cannot run, the tests that need it skip and say why.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "host/qt/DesktopUtil.h"
#include "host/qt/XServer.h"

#ifndef REMCONS_TEST_X_SERVER
#define REMCONS_TEST_X_SERVER 0
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  using remcons::testing::XServer;
  std::unique_ptr<XServer> server;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  if (REMCONS_TEST_X_SERVER != 0 && !GTEST_FLAG_GET(list_tests)) {
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
  qunsetenv("WAYLAND_DISPLAY");
  qputenv("QT_QPA_PLATFORMTHEME", "");
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  int status;
  {
    QApplication app(argc, argv);
    status = RUN_ALL_TESTS();
  }
  // The server goes after the application that is connected to it.
  server.reset();
  return status;
}
