#include "TestApplication.h"

#include <csignal>
#ifdef __linux__
#include <sys/prctl.h>
#endif

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

std::ostream& operator<<(std::ostream& out, const QString& text) {
    PrintTo(text, &out);
    return out;
}

namespace korvo::test {

QCoreApplication& testApp() {
    if (QCoreApplication* made = QCoreApplication::instance()) {
        return *made;
    }
    static int argc = 1;
    static char name[] = "korvo-tests";
    static char* argv[] = {name, nullptr};
    return *new QCoreApplication(argc, argv);
}

void dieWithTheTest([[maybe_unused]] QProcess& process) {
#ifdef __linux__
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
}

} // namespace korvo::test
