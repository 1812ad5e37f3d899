#pragma once

#include <QString>

#include "platform/forms/Form.h"

class Application;
class Image;
class Label;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

// The About dialog: banner, version, computer name and the maker's contacts.
class TAboutDialog1 : public TForm {
 public:
  TAboutDialog1(QWidget* owner, Application& application);

  QLabel* Panel3;
  QLabel* VersionLabel1;
  QLabel* UserLabel1;
  QGroupBox* GroupBox1;
  QLabel* Label2;
  QLabel* Label5;
  Image* Image5;
  QLabel* PhoneLabel1;
  QLabel* Label11;
  Image* Image2;
  QLabel* FaxLabel1;
  Image* Image4;
  Label* InternetLabel1;
  Label* Label12;
  Image* Image3;
  QLabel* Label8;
  Label* EMailLabel1;
  QPushButton* BitBtn1;

  void InternetLabel1Click(QLabel* Sender);
  void EMailLabel1Click(QLabel* Sender);

 protected:
  void FormActivate() override;
  void FormKeyUp(int key, Qt::KeyboardModifiers shift) override;
  void showEvent(QShowEvent* event) override;

 private:
  Application& application_;
};

extern TAboutDialog1* AboutDialog1;

// "Версия 1.00.060914  от 14-09-2006г.": the build date is the version's last six characters,
// YYMMDD.
QString versionCaption(const QString& version);
