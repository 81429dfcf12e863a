#pragma once

// Set-up shared by the targets that need Qt's application object.
#include <QCoreApplication>
#include <QLoggingCategory>

// Creates the application object once for the whole run and keeps the debug
// log quiet: writing it would cost more than the code under test. Targets
// with widgets pass QApplication, which runs on the offscreen platform.
template <typename Application = QCoreApplication>
inline void fuzzApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static Application* app = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new Application(argc, argv);
    }();
    Q_UNUSED(app)
}
