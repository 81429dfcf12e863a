#include "RdpKeyInput.h"

#include "RdpInputFlags.h"

#include <freerdp/locale/keyboard.h>

void RdpKeyInput::send(rdpInput* input, quint32 keycode, bool press)
{
    quint32 scanCode = 0;
    if (press) {
        scanCode = freerdp_keyboard_get_rdp_scancode_from_x11_keycode(keycode);
        if (scanCode == 0)
            return;
        m_keysDown.insert(keycode, scanCode);
    } else {
        scanCode = m_keysDown.take(keycode);
        if (scanCode == 0)
            scanCode = freerdp_keyboard_get_rdp_scancode_from_x11_keycode(keycode);
        if (scanCode == 0)
            return;
    }
    freerdp_input_send_keyboard_event(input, RdpInputFlags::keyFlags(scanCode, press),
                                      RdpInputFlags::keyCode(scanCode));
}

void RdpKeyInput::releaseAll(rdpInput* input)
{
    for (const quint32 scanCode : qAsConst(m_keysDown))
        freerdp_input_send_keyboard_event(input, RdpInputFlags::keyFlags(scanCode, false),
                                          RdpInputFlags::keyCode(scanCode));
    m_keysDown.clear();
}

void RdpKeyInput::pressHeld(rdpInput* input, const QList<quint32>& keycodes)
{
    for (const quint32 keycode : keycodes) {
        if (!m_keysDown.contains(keycode))
            send(input, keycode, true);
    }
}
