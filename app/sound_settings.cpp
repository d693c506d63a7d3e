#include "app/sound_settings.h"

#include "app/sound_commands.h"
#include "instrument/registry.h"

namespace ondelith {

FormField formField(const SettingsField& field, int32_t value) {
  FormField out;
  out.label = field.label;
  if (field.choice) {
    out.choices = field.choices;
    out.value = value - field.minimum;
    return out;
  }
  out.kind = FormField::Kind::Number;
  out.minimum = field.minimum;
  out.maximum = field.maximum;
  out.suffix = field.suffix;
  out.value = value;
  return out;
}

FieldRule fieldRule(const SettingsField& field) {
  FieldRule rule;
  rule.step = field.step;
  rule.tip = field.tip;
  if (field.choice) return rule;
  const int index = field.index;
  rule.text = [index](int v) { return parameterText(index, v); };
  rule.read = [index](const std::string& text, int& v) {
    int32_t read = 0;
    if (!parseParameterText(index, text, read)) return false;
    v = read;
    return true;
  };
  return rule;
}

bool soundSettingsCommand(Toolkit& tk, int window, Synth& synth, std::span<const int> entries) {
  const std::vector<SettingsField> page = settingsPage(entries);
  std::vector<FormField> fields;
  std::vector<FieldRule> rules;
  for (const SettingsField& f : page) {
    fields.push_back(formField(f, synth.instrument.value(f.index)));
    rules.push_back(fieldRule(f));
  }
  const std::string note = page.empty() ? std::string(kNothingToSet) : std::string();
  if (!tk.formDialog(window, "Sound settings", fields, note, rules)) return false;
  recordChange(synth);  // a change not yet a step stays one of its own
  bool changed = false;
  for (size_t k = 0; k < page.size(); ++k) {
    const SettingsField& f = page[k];
    const int32_t v = f.choice ? f.minimum + fields[k].value : fields[k].value;
    if (v == synth.instrument.value(f.index)) continue;
    synth.instrument.setValue(f.index, v);
    changed = true;
  }
  if (changed) recordChange(synth);
  return changed;
}

}  // namespace ondelith
