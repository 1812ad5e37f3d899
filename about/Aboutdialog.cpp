#include "about/Aboutdialog.h"

#include <QGroupBox>
#include <QPushButton>
#include <QScreen>

#include "about/Wmessage.h"
#include "platform/forms/Application.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Pictures.h"
#include "platform/forms/Shell.h"

TAboutDialog1* AboutDialog1 = nullptr;

namespace {

const QString DialogFont = QStringLiteral("MS Sans Serif");
const QColor clNavy(0, 0, 128);
const QColor clSilver(192, 192, 192);

// The maker's contacts.
const QString Company = QStringLiteral("Пиксель");
const QString City = QStringLiteral("г. Энск");
const QString Phone = QStringLiteral("(000) 555-01-01");
const QString SecondPhone = QStringLiteral("(000) 555-01-02");
const QString Fax = QStringLiteral("555-01-03");
const QString Web = QStringLiteral("www.example.org");
const QString SecondWeb = QStringLiteral("example.net");
const QString EMail = QStringLiteral("info@example.org");

// 1-based substring: an index below 1 counts as 1, a count past the end stops there.
QString copy(const QString& s, qsizetype index, qsizetype count) {
  if (index < 1) index = 1;
  if (count < 1 || index > s.size()) return {};
  return s.mid(index - 1, count);
}

QLabel* label(QWidget* parent, const QRect& bounds, const QString& text = {}) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(bounds);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return l;
}

Label* link(QWidget* parent, const QRect& bounds, const QString& text) {
  auto* l = new Label(text, parent);
  l->setGeometry(bounds);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  l->setCursor(Qt::PointingHandCursor);
  l->setFont(pixelFont(DialogFont, 13, false, false, true));
  QPalette p = l->palette();
  p.setColor(QPalette::WindowText, clNavy);
  l->setPalette(p);
  return l;
}

Image* icon(QWidget* parent, QPoint at, const QString& resource) {
  auto* image = new Image(parent);
  image->setPixmap(picture(resource, 32, 32));
  image->setGeometry(QRect(at, QSize(32, 32)));  // sized to its picture
  return image;
}

}  // namespace

QString versionCaption(const QString& version) {
  const QString date = copy(version, version.size() - 5, 6);
  const QString yy = copy(date, 1, 2), mm = copy(date, 3, 2), dd = copy(date, 5, 2);
  return QStringLiteral("Версия ") + version + QStringLiteral("  от ") + dd + u'-' + mm + u'-' +
         QStringLiteral("20") + yy + QStringLiteral("г.");
}

TAboutDialog1::TAboutDialog1(QWidget* owner, Application& application)
    : TForm(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                       Qt::MSWindowsFixedSizeDialogHint),
      application_(application) {
  setWindowTitle(QStringLiteral("О программе"));
  setFixedSize(265, 425);
  // Only where the colour scheme has other colours for a dialog that is never disabled: a
  // palette of its own, even one of the same colours, is a new key to the style's picture cache,
  // which would then keep pictures of the button for every dialog ever opened (until the cache
  // is full, at 10 MB).
  const QPalette scheme = this->palette();
  const auto schemeFits = [&](QPalette::ColorGroup g) {
    return scheme.color(g, QPalette::Window) == scheme.color(g, QPalette::Button) &&
           scheme.color(g, QPalette::WindowText) == QColor(Qt::black);
  };
  if (!schemeFits(QPalette::Active) || !schemeFits(QPalette::Inactive)) {
    QPalette palette = scheme;
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));  // clBtnFace
    palette.setColor(QPalette::WindowText, Qt::black);                    // clWindowText
    setPalette(palette);
  }
  setFont(pixelFont(DialogFont, 13));
  setKeyPreview(true);

  Panel3 = new QLabel(QStringLiteral("Вендрел"), this);
  Panel3->setGeometry(8, 8, 249, 41);
  Panel3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel3->setLineWidth(1);
  Panel3->setAlignment(Qt::AlignCenter);
  Panel3->setAutoFillBackground(true);
  QPalette banner = Panel3->palette();
  banner.setColor(QPalette::Window, QColor(58, 110, 165));
  banner.setColor(QPalette::WindowText, clSilver);
  Panel3->setPalette(banner);
  Panel3->setFont(pixelFont(QStringLiteral("Arial"), 27, true, true));

  VersionLabel1 = label(this, {8, 60, 249, 21}, QStringLiteral("Версия "));
  VersionLabel1->setFont(pixelFont(DialogFont, 13, false, true));
  UserLabel1 = label(this, {8, 88, 249, 19});

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setGeometry(8, 112, 249, 273);
  Label2 = label(GroupBox1, {48, 20, 145, 25}, Company);
  Label2->setFont(pixelFont(QStringLiteral("Arial"), 20, true, true));
  QPalette navy = Label2->palette();
  navy.setColor(QPalette::WindowText, clNavy);
  Label2->setPalette(navy);
  Label5 = label(GroupBox1, {76, 52, 89, 25}, City);
  Image5 = icon(GroupBox1, {16, 92}, QStringLiteral(":/phone.svg"));
  PhoneLabel1 = label(GroupBox1, {62, 87, 147, 21}, QStringLiteral("Тел.: ") + Phone);
  Label11 = label(GroupBox1, {96, 110, 107, 21}, SecondPhone);
  Image2 = icon(GroupBox1, {16, 136}, QStringLiteral(":/fax.svg"));
  FaxLabel1 = label(GroupBox1, {62, 144, 175, 21}, QStringLiteral("Тел./Факс: ") + Fax);
  Image4 = icon(GroupBox1, {16, 180}, QStringLiteral(":/globe.svg"));
  InternetLabel1 = link(GroupBox1, {64, 174, 145, 21}, Web);
  Label12 = link(GroupBox1, {64, 200, 121, 21}, SecondWeb);
  Image3 = icon(GroupBox1, {16, 226}, QStringLiteral(":/envelope.svg"));
  Label8 = label(GroupBox1, {64, 232, 49, 21}, QStringLiteral("E-mail:"));
  EMailLabel1 = link(GroupBox1, {114, 232, 127, 21}, EMail);

  BitBtn1 = new QPushButton(QIcon(picture(QStringLiteral(":/close.svg"), 16, 16)),
                            QStringLiteral("Закрыть"), this);
  BitBtn1->setGeometry(80, 392, 104, 28);
  BitBtn1->setDefault(true);
  BitBtn1->setAutoDefault(true);  // Enter presses it, outside a QDialog too

  // Tab order GroupBox1, BitBtn1, Panel3: only the button takes the focus.
  for (QWidget* w : {static_cast<QWidget*>(GroupBox1), static_cast<QWidget*>(Panel3)})
    w->setFocusPolicy(Qt::NoFocus);
  BitBtn1->setFocusPolicy(Qt::StrongFocus);
  BitBtn1->setFocus();

  InternetLabel1->onClick = [this] { InternetLabel1Click(InternetLabel1); };
  Label12->onClick = [this] { InternetLabel1Click(Label12); };
  EMailLabel1->onClick = [this] { EMailLabel1Click(EMailLabel1); };
  connect(BitBtn1, &QPushButton::clicked, this, [this] { setModalResult(mrOk); });
}

void TAboutDialog1::showEvent(QShowEvent* event) {
  // Centred on the screen when shown.
  if (const QScreen* screen = this->screen()) {
    QRect b = bounds();
    b.moveCenter(screen->geometry().center());
    move(b.topLeft());
  }
  TForm::showEvent(event);
}

void TAboutDialog1::FormActivate() {
  WMessage message(application_.system());
  UserLabel1->setText(QStringLiteral("Пользователь: ") + message.ComputerName());
}

void TAboutDialog1::FormKeyUp(int key, Qt::KeyboardModifiers) {
  if (key == vk::Escape) close();
}

void TAboutDialog1::InternetLabel1Click(QLabel* Sender) {
  application_.shell().open(application_.mainForm(), Sender->text());
}

void TAboutDialog1::EMailLabel1Click(QLabel*) {
  application_.shell().open(application_.mainForm(),
                            QStringLiteral("mailto:") + EMailLabel1->text());
}
