#include "app/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/Session.h"
#include "platform/Registry.h"
#include "ui/CTransparentEditBox.h"
#include "ui/CTransparentStatic.h"
#include "ui/CURLLinkButton.h"
#include "ui/Skin.h"

namespace kestrum {

using ui::duRect;

namespace {
constexpr const char* kWebsite = "https://kestrum.example.org/";
constexpr const char* kSales = "mailto:sales@kestrum.example.org";
constexpr const char* kSupport = "mailto:support@kestrum.example.org";
}  // namespace

std::string CAboutDlg::registeredOwner() {
    const char* key = session().osFamily.load() == 'N'
                          ? "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
                          : "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
    return platform::Registry()
        .readValue(platform::RegistryRoot::LocalMachine, key, "RegisteredOwner")
        .value_or(std::string());
}

CAboutDlg::CAboutDlg(QWidget* parent) : ui::CBDialog(parent) {
    setObjectName("aboutDlg");
    setClientSize(ui::duSize(300, 185));

    auto* picture = new QLabel(client());  // 137, under everything else
    picture->setObjectName("aboutPicture");
    picture->setGeometry(0, 0, ui::duX(300), ui::duY(185));
    picture->setPixmap(ui::loadPicture(ui::kAboutPicture));

    ui::makeGroupFrame(client(), duRect(12, 44, 274, 112))->setObjectName("aboutFrame");

    auto* icon = new QLabel(client());  // icon 128
    icon->setObjectName("aboutIcon");
    icon->setGeometry(duRect(36, 62, 22, 20));
    icon->setPixmap(windowIcon().pixmap(32, 32));

    // A plain-text label shows an "&" as it is, which is what doubling it did.
    const QString title = QString::fromStdString(session().windowTitle.load()) + " " +
                          QString::fromStdString(session().versionText.load());
    auto* version = new ui::CTransparentStatic(title, client());
    version->setObjectName("versionLabel");  // 1031
    version->setGeometry(duRect(65, 61, 211, 8));
    auto* line =
        new ui::CTransparentStatic("Recovers photos, raw images, audio and video.", client());
    line->setObjectName("aboutLine");  // 1006
    line->setGeometry(duRect(65, 71, 211, 8));

    struct Link {
        const char* label;
        const char* labelName;
        const char* text;
        const char* url;
        const char* linkName;
    };
    const Link links[] = {
        {"Website : ", "websiteLabel", "kestrum.example.org", kWebsite, "websiteLink"},
        {"Sales     : ", "salesLabel", "sales@kestrum.example.org", kSales, "salesLink"},
        {"Support : ", "supportLabel", "support@kestrum.example.org", kSupport, "supportLink"},
    };
    double y = 86;
    for (const Link& l : links) {
        auto* label = new ui::CTransparentStatic(l.label, client());  // 1007..1009
        label->setObjectName(l.labelName);
        label->setGeometry(duRect(65, y, 40, 9));
        auto* link = new ui::CURLLinkButton(l.text, QUrl(l.url), client());  // 1191..1193
        link->setObjectName(l.linkName);
        link->setGeometry(duRect(106, y, 150, 9));
        y += 11;
    }

    auto* owner = new ui::CTransparentEditBox(client());
    owner->setObjectName("ownerBox");  // 1194
    owner->setGeometry(duRect(36, 124, 226, 22));
    owner->setReadOnly(true);
    owner->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    owner->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    owner->document()->setDocumentMargin(2);
    owner->setPlainText("This copy is registered to:\n" +
                        QString::fromStdString(registeredOwner()));

    auto* ok = new QPushButton("OK", client());
    ok->setObjectName("okButton");
    ok->setGeometry(duRect(124, 161, 50, 16));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kestrum
