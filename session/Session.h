#pragma once

#include "setup/SessionInfo.h"

#include <QMainWindow>

// The control window of one granted microscope session.
class Session : public QMainWindow
{
    Q_OBJECT

public:
    Session(QWidget* parent = nullptr, const char* name = nullptr, Qt::WindowFlags fl = Qt::Window);
    ~Session() override;

public slots:
    virtual void begin(SessionInfo& info);

public:
    SessionInfo sessionInfo;
};
