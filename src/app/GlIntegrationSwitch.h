#pragma once

// Keeps Qt from loading its X11 GL integration: everything is painted with
// QPainter, and the GL stack costs tens of megabytes the program never uses.
// The switch is the environment variable QT_XCB_GL_INTEGRATION, which every
// child process (ssh, the browser for links) would inherit; it is therefore
// set only while Qt settles its GL integration.
class GlIntegrationSwitch
{
public:
    // Sets QT_XCB_GL_INTEGRATION to "none" unless the user chose a value.
    // Construct before the application object.
    GlIntegrationSwitch();

    // Lets Qt settle its GL integration, then removes the variable again if
    // this switch set it. Call once the application object exists.
    void release();

private:
    bool m_set = false;
};
