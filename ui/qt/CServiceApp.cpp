#include "CServiceApp.h"

#include "QtMainWindow.h"
#include "TemplateBuilder.h"

#include <QFont>
#include <QIcon>

namespace norvex::qt {

CServiceApp::CServiceApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Norvex"));
    setApplicationVersion(QStringLiteral("2.0"));
    applyLook();
}

void CServiceApp::applyLook() {
    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/norvex/images/norvex.png")));
    // A small dialog font, so that the template texts fit their rectangles.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

int CServiceApp::run(link::PortMap& ports) {
    QtMainWindow window(ports);
    window.show();
    return exec();
}

} // namespace norvex::qt
