#include "widgets/ButtonChoice.h"

#include <QButtonGroup>

#include <memory>
#include <optional>

namespace quillpost {

void connectChoice(QButtonGroup *group, QObject *context, std::function<void(int)> action)
{
    // A click runs pressed, toggled (when the state changes), released, clicked; the state
    // change inside a press is left to the click that follows.
    auto pressed = std::make_shared<std::optional<int>>();
    QObject::connect(group, &QButtonGroup::idPressed, context, [pressed](int id) { *pressed = id; });
    QObject::connect(group, &QButtonGroup::idReleased, context, [pressed] { pressed->reset(); });
    QObject::connect(group, &QButtonGroup::idToggled, context, [pressed, action](int id, bool checked) {
        if (checked && *pressed != id)
            action(id);
    });
    QObject::connect(group, &QButtonGroup::idClicked, context, action);
}

} // namespace quillpost
