// The process's QApplication, kept behind a Qt-free header.
#include <QApplication>
#include <QStyleFactory>
#include <string>
#include <vector>

#include "platform/ui/qt/qt_backend.h"
#include "platform/ui/qt/qt_window.h"

namespace ui {

struct QtApplication::Impl {
  int argc = 0;
  std::vector<std::string> args;
  std::vector<char*> argv;
  std::unique_ptr<QApplication> app;
};

QtApplication::QtApplication(int argc, char** argv) : impl_(std::make_unique<Impl>()) {
  for (int i = 0; i < argc; ++i) impl_->args.emplace_back(argv[i]);
  if (impl_->args.empty()) impl_->args.emplace_back("ostrevane");
  for (auto& a : impl_->args) impl_->argv.push_back(a.data());
  impl_->argv.push_back(nullptr);
  impl_->argc = static_cast<int>(impl_->args.size());
  // QApplication keeps references to argc and argv: both live in Impl.
  impl_->app = std::make_unique<QApplication>(impl_->argc, impl_->argv.data());
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

QtApplication::~QtApplication() = default;

std::unique_ptr<Window> CreateQtWindow(const DialogTemplate& dialog) {
  return std::make_unique<QtWindow>(dialog);
}

}  // namespace ui
