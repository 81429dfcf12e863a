#include "GlIntegrationSwitch.h"

#include <QOpenGLContext>
#include <QtGlobal>

namespace {

const char* const Variable = "QT_XCB_GL_INTEGRATION";

} // namespace

GlIntegrationSwitch::GlIntegrationSwitch()
{
    if (!qEnvironmentVariableIsSet(Variable)) {
        qputenv(Variable, "none");
        m_set = true;
    }
}

void GlIntegrationSwitch::release()
{
    if (!m_set)
        return;
    // The platform plug-in reads the variable only when it is first asked
    // about GL, at the latest for the first native window; asking now makes
    // it read the variable before it goes.
    QOpenGLContext::supportsThreadedOpenGL();
    qunsetenv(Variable);
    m_set = false;
}
