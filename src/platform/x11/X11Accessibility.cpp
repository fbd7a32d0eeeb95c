#include "platform/x11/X11Accessibility.h"

#include "platform/x11/XcbSupport.h"

#include <xcb/xtest.h>

namespace quillpost {

bool X11Accessibility::isTrusted() const
{
    xcb_connection_t *connection = x11::qtConnection();
    if (!connection)
        return false;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_test_id);
    return extension && extension->present;
}

} // namespace quillpost
