// The application's icon, every size it ships in.
#pragma once

#include <QIcon>

QIcon TessaryIcon();
