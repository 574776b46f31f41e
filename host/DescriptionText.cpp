#include "host/DescriptionText.h"

#include <fmt/format.h>
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <sstream>

#include "Kel/Utf8.h"
#include "host/DescriptionError.h"

namespace velaclockd {

namespace {

// Refuses the first anchor, alias or scalar that is not UTF-8 of one YAML document.
class TextChecker : public YAML::EventHandler {
 public:
  explicit TextChecker(const std::string& file) : file_(file) {}

  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark& mark, YAML::anchor_t) override {
    descriptionError(file_, mark, "aliases (*name) are not allowed: write the entity out");
  }
  void OnAnchor(const YAML::Mark& mark, const std::string&) override {
    descriptionError(file_, mark, "anchors (&name) are not allowed: write the entity out");
  }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                const std::string& value) override {
    if (!Kel::isUtf8(value)) descriptionError(file_, mark, "expected UTF-8 text");
  }
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {}
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {}
  void OnMapEnd() override {}

 private:
  const std::string& file_;
};

}  // namespace

void checkDescriptionText(const std::string& text, const std::string& file) {
  if (text.size() > maxDescriptionBytes) {
    throw DescriptionError(
        fmt::format("{}: larger than the {} bytes ({} MiB) a platform description may have", file,
                    maxDescriptionBytes, maxDescriptionBytes >> 20));
  }
  std::istringstream in(text);
  YAML::Parser parser(in);
  TextChecker checker(file);
  try {
    // Only the first document is used, as YAML::Load does.
    parser.HandleNextDocument(checker);
  } catch (const YAML::DeepRecursion& error) {
    // Its own message says only "bad file".
    descriptionError(file, error.mark, "maps and lists nested too deeply for the YAML reader");
  } catch (const YAML::Exception& error) {
    descriptionError(file, error.mark, error.msg);
  }
}

}  // namespace velaclockd
