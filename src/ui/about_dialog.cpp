#include "ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "common/strings.h"
#include "model/common_params.h"
#include "model/os_description.h"
#include "ui/qt_user_interface.h"
#include "ui/resources.h"
#include "ui/ui_text.h"

namespace kvtr::ui {

QString AboutDialog::VersionLine() {
  // Version texts written "1, 0, 0" read "1.0.0".
  return uiText("Конфигуратор КВТР, версия %1").arg(qs(replaceAll(KVTR_VERSION, ", ", ".")));
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  LoadResources();
  setWindowTitle(uiText("О программе"));
  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/icons/kvtr.svg")).pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);
  auto* version = new QLabel(VersionLine(), this);
  version->setObjectName("versionLine");
  QFont bold = version->font();
  bold.setBold(true);
  version->setFont(bold);
  auto* notice = new QLabel(uiText(CommonParams::LegalNotice()), this);
  notice->setWordWrap(true);
  auto* system = new QLabel(qs(DescribeOperatingSystem()), this);
  system->setWordWrap(true);

  auto* texts = new QVBoxLayout;
  texts->addWidget(version);
  texts->addWidget(notice);
  texts->addWidget(system);
  texts->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(texts, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setMinimumWidth(420);
}

}  // namespace kvtr::ui
