#include "RdpSharedFrame.h"

#include <QSysInfo>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

bool RdpSharedFrame::supported(xcb_connection_t* connection)
{
    if (!connection || xcb_connection_has_error(connection))
        return false;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present)
        return false;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
    const bool ourOrder = (setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST)
        == (QSysInfo::ByteOrder == QSysInfo::LittleEndian);
    if (!screen || screen->root_depth != 24 || !ourOrder)
        return false;
    xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup);
    for (; format.rem; xcb_format_next(&format)) {
        if (format.data->depth == 24)
            return format.data->bits_per_pixel == 32;
    }
    return false;
}

RdpSharedFrame::RdpSharedFrame(xcb_connection_t* connection)
    : m_connection(connection)
{
}

RdpSharedFrame::~RdpSharedFrame()
{
    releaseAll();
}

bool RdpSharedFrame::allocate(int width, int height, QString* error)
{
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int>::max() / 4 / height) {
        *error = QStringLiteral("no frame of %1 x %2 pixels").arg(width).arg(height);
        return false;
    }
    const size_t bytes = size_t(width) * 4 * size_t(height);
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        *error = QStringLiteral("shmget: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    void* data = shmat(id, nullptr, 0);
    if (data == reinterpret_cast<void*>(-1)) {
        *error = QStringLiteral("shmat: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    // A checked request: its error comes back here, not to the toolkit's
    // event handler, and the reply is the round trip after which the
    // server has attached.
    const xcb_shm_seg_t segment = xcb_generate_id(m_connection);
    xcb_generic_error_t* failure =
        xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, segment, quint32(id), 1));
    // From here on the segment goes away with the last detach.
    shmctl(id, IPC_RMID, nullptr);
    if (failure) {
        *error = QStringLiteral("the X server cannot attach the segment (error %1)").arg(failure->error_code);
        std::free(failure);
        shmdt(data);
        return false;
    }
    release(&m_previous);
    m_previous = m_current;
    m_current = {static_cast<unsigned char*>(data), segment, width * 4, height};
    return true;
}

void RdpSharedFrame::releasePrevious()
{
    release(&m_previous);
}

void RdpSharedFrame::releaseAll()
{
    release(&m_previous);
    release(&m_current);
}

void RdpSharedFrame::release(Segment* segment)
{
    if (!segment->data)
        return;
    // The server may still read the segment for puts it has not handled:
    // the detach comes after them, and its check waits until it is done.
    std::free(xcb_request_check(m_connection, xcb_shm_detach_checked(m_connection, segment->segment)));
    shmdt(segment->data);
    *segment = Segment();
}
