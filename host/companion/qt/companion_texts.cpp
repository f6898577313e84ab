#include "host/companion/qt/companion_texts.hpp"

#include <QFileInfo>

namespace glidemate::host {

QUrl CompanionTexts::readmeUrl() {
  const QString installed = GLIDEMATE_INSTALLED_README;
  if (QFileInfo::exists(installed)) return QUrl::fromLocalFile(installed);
  return QUrl::fromLocalFile(GLIDEMATE_SOURCE_README);
}

}  // namespace glidemate::host
