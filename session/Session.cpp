#include "session/Session.h"

Session::Session(QWidget* parent, const char* name, Qt::WindowFlags fl)
    : QMainWindow(parent, fl)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

Session::~Session() = default;

void Session::begin(SessionInfo& info)
{
    sessionInfo = info;
    setWindowTitle(QStringLiteral("Tessan: Controlling ") + info.scope.name + QStringLiteral(" at <") + info.host
                   + QStringLiteral(">"));
}
