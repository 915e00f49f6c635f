#include "app/gui/Icon.h"

#include <QString>

#include <array>

// Outside any namespace, as the resource initialiser requires.
static void InitialiseResources() {
    Q_INIT_RESOURCE(tessary);
}

QIcon TessaryIcon() {
    static const bool initialised = (InitialiseResources(), true);
    (void)initialised;
    QIcon icon;
    for (const int size : std::array{16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/tessary-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
