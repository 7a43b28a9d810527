// text_field: a Wayland text field for the tests to paste into. It prints "focused" once it has
// the keyboard focus, then every change of its text on a line of its own.

#include <QApplication>
#include <QLineEdit>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QLineEdit field;
  field.setWindowTitle("vesk paste target");
  field.resize(300, 40);
  QObject::connect(&field, &QLineEdit::textChanged, [](const QString& text) {
    std::printf("text:%s\n", text.toUtf8().constData());
    std::fflush(stdout);
  });
  QObject::connect(&application, &QApplication::focusChanged, [&field](QWidget*, QWidget* now) {
    if (now == &field) {
      std::printf("focused\n");
      std::fflush(stdout);
    }
  });
  field.show();
  return QApplication::exec();
}
