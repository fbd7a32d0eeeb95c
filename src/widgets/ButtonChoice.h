#pragma once

#include <QObject>

#include <functional>

class QButtonGroup;

namespace quillpost {

// Connects the buttons of an exclusive group to `action`, called with the id of the button
// chosen: once for every click, also on the button that is already checked, and once for every
// button that becomes checked without a click, as when an assistive tool runs its "toggle"
// action (QAbstractButton::toggle() emits no click). A click that checks a button is reported
// once, not once for the state change and once for the click. Changes made with setChecked()
// count as choices too: block the group's signals around them when they are not.
void connectChoice(QButtonGroup *group, QObject *context, std::function<void(int)> action);

} // namespace quillpost
