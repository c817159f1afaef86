#include "maintenance/dialogs/file_filter.h"

namespace velmora {

namespace {

QString QtPatterns(const QString& patterns) {
  QStringList out;
  for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString trimmed = pattern.trimmed();
    out << (trimmed == QStringLiteral("*.*") ? QStringLiteral("*") : trimmed);
  }
  return out.isEmpty() ? QStringLiteral("*") : out.join(QLatin1Char(' '));
}

}  // namespace

QStringList NameFiltersFromFilter(const QString& filter) {
  QStringList filters;
  if (filter.isEmpty()) return filters;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString raw = i + 1 < parts.size() ? parts[i + 1] : QString();
    const QString patterns = QtPatterns(raw);
    if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')'))) {
      filters << description;
    } else {
      filters << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
  }
  return filters;
}

}  // namespace velmora
