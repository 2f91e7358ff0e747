// The yardstick for start-up time and memory: the least a Qt widgets
// program does to show a 400 x 200 window.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Minimal Qt window");
  window.setFixedSize(400, 200);
  window.show();
  return application.exec();
}
