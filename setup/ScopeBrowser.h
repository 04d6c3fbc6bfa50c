#pragma once

#include "acquire/Login.h"
#include "acquire/ScopeRecord.h"

#include <QDialog>
#include <QList>
#include <memory>

class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTextBrowser;
class QTextEdit;

// The first window: connects to an Orvex server, lists its microscopes with
// their descriptions and slides, reserves scope time and, once the server
// grants a session ticket, opens the control window and goes away.
class ScopeBrowser : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* defaultHost = "localhost:8642";

    explicit ScopeBrowser(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                          Qt::WindowFlags fl = Qt::WindowFlags());
    ~ScopeBrowser() override;

    QLabel* TextLabel1;
    QLineEdit* hostName;
    QLabel* connectionStatus;
    QPushButton* connectToServer;
    QTextEdit* bannerBox;
    QLabel* TextLabel2;
    QListWidget* scopeListBox;
    QFrame* Line1;
    QLabel* TextLabel3;
    QTextBrowser* descriptionBox;
    QLabel* TextLabel5;
    QListWidget* slideList;
    QLabel* TextLabel1_2;
    QLineEdit* loginBox;
    QLabel* TextLabel1_2_2;
    QLineEdit* passwordBox;
    QPushButton* cancelButton;
    QPushButton* reserveButton;
    QPushButton* beginButton;
    // Opens a saved mosaic, stack or picture in the viewer; needs no server.
    QPushButton* openFileButton;

    // The host as the user means it: blanks around it and an "http://" in front dropped.
    static QString hostFromTyped(const QString& typed);

    const QList<ScopeRecord>& scopeRecords() const { return records; }
    bool isSelectionFrozen() const { return selectionFrozen; }
    // The requests go out through the engine's login steps.
    Login* loginSteps() const { return login.get(); }

public slots:
    virtual void init();
    virtual void destroy();
    virtual void fetchScopeList();
    virtual void updateList(const ScopeListParser& list);
    virtual void describeScope(int row);
    virtual void getSticket();
    virtual void gotSticket();
    virtual void reserveNextAvailable();
    virtual void schedResponse(bool now);
    virtual void startsession();
    virtual void authOrNot(quint32 ticket);

protected slots:
    virtual void languageChange();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildForm();
    void warn(const QString& title, const QString& text);
    void listFailed();
    // The box for a refused scheduling challenge or reservation.
    void schedulingRefused(Login::Refusal why);
    void ticketRefused(Login::Refusal why);
    // The record of the current row, or null when no row is current.
    const ScopeRecord* currentRecord() const;
    QString serverHost() const;

    QList<ScopeRecord> records;
    std::unique_ptr<Login> login;
    bool selectionFrozen = false;
    bool justScheduled = false;
    int savedRow = 0;
};
