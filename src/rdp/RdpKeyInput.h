#pragma once

#include <QMap>

#include <freerdp/input.h>

// Key events of one widget towards the server: X keycodes become RDP scan
// codes, and the keys still down can be released when the widget loses
// the focus (a key released in another window would stay down remotely).
class RdpKeyInput
{
public:
    // Sends the key; one without a scan code is dropped.
    void send(rdpInput* input, quint32 keycode, bool press);
    void releaseAll(rdpInput* input);
    // Presses keys that went down while another window had the keyboard.
    void pressHeld(rdpInput* input, const QList<quint32>& keycodes);

private:
    // Keys pressed and not yet released, by X keycode: scan code.
    QMap<quint32, quint32> m_keysDown;
};
