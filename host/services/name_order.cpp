#include "host/services/name_order.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <string_view>

namespace glidemate::host {

struct NameOrder::Collation {
  std::unique_ptr<icu::Collator> collator;
};

NameOrder::NameOrder() {
  auto collation = std::make_shared<Collation>();
  // The C locale is ICU's en_US_POSIX, whose order puts every capital
  // before every small letter; people expect the plain order there.
  icu::Locale locale = icu::Locale::getDefault();
  if (std::string_view(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
  UErrorCode status = U_ZERO_ERROR;
  collation->collator.reset(icu::Collator::createInstance(locale, status));
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    collation->collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
  }
  // Secondary strength: letters and accents count, case does not.
  if (collation->collator) collation->collator->setStrength(icu::Collator::SECONDARY);
  collation_ = std::move(collation);
}

bool NameOrder::operator()(const std::string& a, const std::string& b) const {
  if (collation_->collator) {
    UErrorCode status = U_ZERO_ERROR;
    const auto order = collation_->collator->compareUTF8(icu::StringPiece(a), icu::StringPiece(b), status);
    if (U_SUCCESS(status) && order != UCOL_EQUAL) return order == UCOL_LESS;
  }
  return a < b;
}

}  // namespace glidemate::host
