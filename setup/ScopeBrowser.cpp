#include "setup/ScopeBrowser.h"

#include "setup/ServerText.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>

ScopeBrowser::ScopeBrowser(QWidget* parent, const char* name, bool modal, Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    setObjectName(name ? QString::fromLatin1(name) : QStringLiteral("ScopeBrowser"));
    setModal(modal);
    // Cancel, Escape and the hand-over to a control window all end the dialog for good.
    setAttribute(Qt::WA_DeleteOnClose);
    buildForm();
    init();
}

ScopeBrowser::~ScopeBrowser()
{
    destroy();
}

void ScopeBrowser::init()
{
    login = std::make_unique<Login>();
    connect(login.get(), &Login::scopesRead, this, &ScopeBrowser::updateList);
    connect(login.get(), &Login::scopesFailed, this, &ScopeBrowser::listFailed);
    connect(login.get(), &Login::challengeRead, this, &ScopeBrowser::gotSticket);
    connect(login.get(), &Login::challengeRefused, this, &ScopeBrowser::schedulingRefused);
    connect(login.get(), &Login::timeReserved, this, &ScopeBrowser::schedResponse);
    connect(login.get(), &Login::reservationRefused, this, &ScopeBrowser::schedulingRefused);
    connect(login.get(), &Login::ticketGranted, this, &ScopeBrowser::authOrNot);
    connect(login.get(), &Login::ticketRefused, this, &ScopeBrowser::ticketRefused);
}

void ScopeBrowser::destroy()
{
    // The login goes first, so that no reply reaches a half-destroyed dialog.
    login.reset();
}

void ScopeBrowser::fetchScopeList()
{
    if (!login || login->isReadingScopes())
        return;
    scopeListBox->clear();
    slideList->clear();
    descriptionBox->clear();
    reserveButton->setEnabled(false);
    records.clear();

    connectionStatus->setText(QStringLiteral("Connecting..."));
    selectionFrozen = true;
    login->readScopes(serverHost());
}

void ScopeBrowser::listFailed()
{
    beginButton->setEnabled(false);
    hostName->selectAll();
    connectionStatus->setText(QStringLiteral("Connection Failed."));
    warn(QStringLiteral("Connection Failed"), QStringLiteral("No Orvex server could be found at the given hostname"));
    // Closing the box can move focus and clear the selection; the host is
    // meant to be retyped.
    hostName->setFocus();
    hostName->selectAll();
}

void ScopeBrowser::updateList(const ScopeListParser& list)
{
    beginButton->setEnabled(false);
    connectionStatus->setText(QStringLiteral("Connection Successful"));
    // Rows and records are rebuilt together, so row i always names record i.
    scopeListBox->clear();
    records.clear();
    // The banner is the server's free text: shown as it stands, never as markup.
    bannerBox->setPlainText(ServerText::breakLongRuns(list.banner));
    for (const ScopeRecord& record : list.records) {
        scopeListBox->addItem(record.name);
        records.append(record);
    }

    if (justScheduled) {
        selectionFrozen = false;
        scopeListBox->setCurrentRow(savedRow);
        describeScope(savedRow);
        justScheduled = false;
        reserveButton->setEnabled(true);
    } else if (scopeListBox->count() > 0) {
        selectionFrozen = false;
        scopeListBox->setCurrentRow(0);
        reserveButton->setEnabled(true);
    }
}

void ScopeBrowser::describeScope(int row)
{
    if (row < 0 || row >= records.size() || selectionFrozen)
        return;
    const ScopeRecord& record = records.at(row);
    beginButton->setEnabled(!record.controlLocked);
    // setText shows the description as rich text when it looks like markup.
    descriptionBox->setText(Qt::mightBeRichText(record.description)
                                ? ServerText::breakLongRunsInMarkup(record.description)
                                : ServerText::breakLongRuns(record.description));
    slideList->clear();
    slideList->addItems(record.slides);
}

void ScopeBrowser::warn(const QString& title, const QString& text)
{
    QMessageBox::warning(this, title, text, QMessageBox::Ok);
}

void ScopeBrowser::keyPressEvent(QKeyEvent* event)
{
    // A focused button takes Return itself and the fields act on it through
    // returnPressed; anywhere else the dialog's default button would reconnect
    // and select row 0 again, so Return ends here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString ScopeBrowser::hostFromTyped(const QString& typed)
{
    QString host = typed.trimmed();
    if (host.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        host = host.mid(7).trimmed();
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    return host;
}

QString ScopeBrowser::serverHost() const
{
    return hostFromTyped(hostName->text());
}

const ScopeRecord* ScopeBrowser::currentRecord() const
{
    const int row = scopeListBox->currentRow();
    if (row < 0 || row >= records.size())
        return nullptr;
    return &records.at(row);
}
