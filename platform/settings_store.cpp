#include "platform/settings_store.h"

#include <QFile>
#include <QSettings>

namespace ondelith {

struct SettingsStore::Impl {
  std::unique_ptr<QSettings> settings;
  bool readable = true;
};

SettingsStore::SettingsStore(const std::string& path) : impl_(std::make_unique<Impl>()) {
  if (path.empty())
    impl_->settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                  "Ondelith", "Ondelith");
  else
    impl_->settings =
        std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
  impl_->settings->setFallbacksEnabled(false);
  impl_->readable = impl_->settings->status() == QSettings::NoError;
  if (!impl_->readable) impl_->settings->clear();
}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::readable() const { return impl_->readable; }

std::optional<std::string> SettingsStore::text(const std::string& key) const {
  const QVariant v = impl_->settings->value(QString::fromStdString(key));
  if (!v.isValid() || v.typeId() != QMetaType::QString) return std::nullopt;
  return v.toString().toStdString();
}

std::optional<int64_t> SettingsStore::integer(const std::string& key) const {
  const std::optional<std::string> t = text(key);
  if (!t) return std::nullopt;
  bool ok = false;
  const qlonglong n = QString::fromStdString(*t).trimmed().toLongLong(&ok, 10);
  if (!ok) return std::nullopt;
  return static_cast<int64_t>(n);
}

void SettingsStore::set(const std::string& key, const std::string& value) {
  impl_->settings->setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void SettingsStore::set(const std::string& key, int64_t value) { set(key, std::to_string(value)); }

bool SettingsStore::save() {
  impl_->settings->sync();
  return impl_->settings->status() == QSettings::NoError;
}

std::string SettingsStore::path() const { return impl_->settings->fileName().toStdString(); }

}  // namespace ondelith
