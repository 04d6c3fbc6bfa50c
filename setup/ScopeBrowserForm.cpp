#include "setup/ScopeBrowser.h"

#include "setup/InertTextBrowser.h"
#include "views/ViewerWindow.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

QFont urwHelvetica(const QWidget* widget)
{
    QFont font = widget->font();
    font.setFamily(QStringLiteral("Helvetica [Urw]"));
    return font;
}

QWidget* container(QWidget* parent, const QRect& place)
{
    auto* box = new QWidget(parent);
    box->setGeometry(place);
    return box;
}

} // namespace

void ScopeBrowser::buildForm()
{
    resize(759, 380);
    setSizeGripEnabled(true);

    QWidget* serverRow = container(this, QRect(10, 10, 330, 26));
    auto* serverLayout = new QHBoxLayout(serverRow);
    serverLayout->setContentsMargins(0, 0, 0, 0);
    TextLabel1 = new QLabel(serverRow);
    TextLabel1->setObjectName(QStringLiteral("TextLabel1"));
    serverLayout->addWidget(TextLabel1);
    hostName = new QLineEdit(serverRow);
    hostName->setObjectName(QStringLiteral("hostName"));
    serverLayout->addWidget(hostName);

    connectionStatus = new QLabel(this);
    connectionStatus->setObjectName(QStringLiteral("connectionStatus"));
    connectionStatus->setGeometry(11, 43, 207, 32);

    connectToServer = new QPushButton(this);
    connectToServer->setObjectName(QStringLiteral("connectToServer"));
    connectToServer->setGeometry(220, 40, 120, 32);
    connectToServer->setFlat(false);

    bannerBox = new QTextEdit(this);
    bannerBox->setObjectName(QStringLiteral("bannerBox"));
    bannerBox->setGeometry(10, 80, 330, 170);
    bannerBox->setFont(urwHelvetica(bannerBox));

    QWidget* listColumn = container(this, QRect(10, 260, 330, 110));
    auto* listLayout = new QVBoxLayout(listColumn);
    listLayout->setContentsMargins(0, 0, 0, 0);
    TextLabel2 = new QLabel(listColumn);
    TextLabel2->setObjectName(QStringLiteral("TextLabel2"));
    TextLabel2->setAlignment(Qt::AlignCenter);
    listLayout->addWidget(TextLabel2);
    scopeListBox = new QListWidget(listColumn);
    scopeListBox->setObjectName(QStringLiteral("scopeListBox"));
    listLayout->addWidget(scopeListBox);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(340, 10, 20, 360);
    Line1->setFrameShape(QFrame::VLine);
    Line1->setFrameShadow(QFrame::Sunken);

    QWidget* describeGrid = container(this, QRect(360, 10, 370, 290));
    auto* grid = new QGridLayout(describeGrid);
    grid->setContentsMargins(0, 0, 0, 0);
    TextLabel3 = new QLabel(describeGrid);
    TextLabel3->setObjectName(QStringLiteral("TextLabel3"));
    TextLabel3->setAlignment(Qt::AlignCenter);
    grid->addWidget(TextLabel3, 0, 0);
    descriptionBox = new InertTextBrowser(describeGrid);
    descriptionBox->setObjectName(QStringLiteral("descriptionBox"));
    descriptionBox->setFont(urwHelvetica(descriptionBox));
    grid->addWidget(descriptionBox, 1, 0);
    auto* slideColumn = new QVBoxLayout;
    TextLabel5 = new QLabel(describeGrid);
    TextLabel5->setObjectName(QStringLiteral("TextLabel5"));
    TextLabel5->setAlignment(Qt::AlignCenter);
    slideColumn->addWidget(TextLabel5);
    slideList = new QListWidget(describeGrid);
    slideList->setObjectName(QStringLiteral("slideList"));
    slideList->setFont(urwHelvetica(slideList));
    slideList->setFocusPolicy(Qt::NoFocus);
    slideColumn->addWidget(slideList);
    grid->addLayout(slideColumn, 0, 1, 2, 1);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 1);

    TextLabel1_2 = new QLabel(this);
    TextLabel1_2->setObjectName(QStringLiteral("TextLabel1_2"));
    TextLabel1_2->setGeometry(400, 310, 62, 22);
    loginBox = new QLineEdit(this);
    loginBox->setObjectName(QStringLiteral("loginBox"));
    loginBox->setGeometry(470, 310, 90, 22);
    TextLabel1_2_2 = new QLabel(this);
    TextLabel1_2_2->setObjectName(QStringLiteral("TextLabel1_2_2"));
    TextLabel1_2_2->setGeometry(572, 310, 62, 22);
    passwordBox = new QLineEdit(this);
    passwordBox->setObjectName(QStringLiteral("passwordBox"));
    passwordBox->setGeometry(640, 310, 90, 22);
    passwordBox->setEchoMode(QLineEdit::Password);

    cancelButton = new QPushButton(this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setGeometry(360, 340, 98, 32);
    reserveButton = new QPushButton(this);
    reserveButton->setObjectName(QStringLiteral("reserveButton"));
    reserveButton->setGeometry(464, 340, 150, 32);
    reserveButton->setEnabled(false);
    beginButton = new QPushButton(this);
    beginButton->setObjectName(QStringLiteral("beginButton"));
    beginButton->setGeometry(620, 340, 120, 32);
    beginButton->setEnabled(false);
    openFileButton = new QPushButton(this);
    openFileButton->setObjectName(QStringLiteral("openFileButton"));
    openFileButton->setGeometry(10, 340, 120, 32);

    languageChange();
    // The login labels keep their right edge next to their fields but grow to
    // the left when the font needs more room than the form gave them.
    for (QLabel* label : {TextLabel1_2, TextLabel1_2_2}) {
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 4;
        if (needed > label->width())
            label->setGeometry(label->geometry().adjusted(label->width() - needed, 0, 0, 0));
    }

    setTabOrder(connectToServer, beginButton);
    setTabOrder(beginButton, cancelButton);
    setTabOrder(cancelButton, reserveButton);
    setTabOrder(reserveButton, scopeListBox);
    setTabOrder(scopeListBox, slideList);
    setTabOrder(slideList, hostName);
    setTabOrder(hostName, descriptionBox);
    setTabOrder(descriptionBox, loginBox);
    setTabOrder(loginBox, passwordBox);

    connect(connectToServer, &QPushButton::clicked, this, &ScopeBrowser::fetchScopeList);
    connect(beginButton, &QPushButton::clicked, this, &ScopeBrowser::startsession);
    connect(cancelButton, &QPushButton::pressed, this, &ScopeBrowser::close);
    connect(openFileButton, &QPushButton::clicked, this, [this] { ViewerWindow::chooseAndOpen(this); });
    connect(scopeListBox, &QListWidget::activated, this,
            [this](const QModelIndex& index) { describeScope(index.row()); });
    connect(scopeListBox, &QListWidget::currentRowChanged, this, &ScopeBrowser::describeScope);
    connect(reserveButton, &QPushButton::clicked, this, &ScopeBrowser::getSticket);

    // No default button: Return in a field does what that field is for. A new
    // list would select row 0, so Return after the password must not reconnect.
    connect(hostName, &QLineEdit::returnPressed, connectToServer, &QPushButton::click);
    for (QLineEdit* field : {loginBox, passwordBox})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (beginButton->isEnabled())
                beginButton->click();
        });
}

void ScopeBrowser::languageChange()
{
    const auto form = [](const char* text) { return QCoreApplication::translate("ScopeBrowser", text); };
    setWindowTitle(form("Tessan 2.03 - New Scope Session"));
    TextLabel1->setText(form("Server:"));
    hostName->setText(form(defaultHost));
    connectionStatus->setText(form("Ready to connect."));
    connectToServer->setText(form("Connect"));
    TextLabel2->setText(form("Microscopes Available On Host"));
    TextLabel3->setText(form("Microscope Description"));
    TextLabel5->setText(form("Available Slides"));
    TextLabel1_2->setText(form("Username:"));
    TextLabel1_2_2->setText(form("Password:"));
    cancelButton->setText(form("Cancel"));
    reserveButton->setText(form("Reserve Next Available"));
    beginButton->setText(form("Control Scope"));
    openFileButton->setText(form("Open File..."));
}
