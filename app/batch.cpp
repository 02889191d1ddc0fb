#include "app/batch.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/font_loader.h"
#include "app/option_table.h"
#include "app/std_streams.h"
#include "platform/failure.h"
#include "platform/processors.h"
#include "window/request.h"
#include "writer/writer.h"

namespace scrivane {
namespace {

// Where each input goes: -o, standard output for standard input, else the derived name.
std::vector<std::string> Targets(const Options& o) {
  std::vector<std::string> targets;
  for (const std::string& input : o.inputs) {
    if (o.output) {
      targets.push_back(*o.output);
    } else if (input == "-") {
      targets.push_back("-");
    } else {
      targets.push_back(DeriveOutputName(input));
    }
  }
  return targets;
}

// Refuses two inputs of a batch that would write the same PDF (notes.txt and
// notes.text), and a PDF for a terminal.
void CheckTargets(const Options& o, const std::vector<std::string>& targets,
                  OptionServices& sv) {
  // Compared by the identity of the file, or of its folder, not by the text of
  // the names: lnk/a.pdf is a.pdf when lnk leads to the working folder.
  std::set<std::string> seen;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (targets[i] == "-") continue;
    if (!seen.insert(sv.files.identity(targets[i])).second) {
      throw UsageError("two inputs would both be written to '" + targets[i] + "' ('" +
                       o.inputs[i] + "' is one); convert them in separate runs");
    }
  }
  for (const std::string& target : targets) {
    if (target == "-" ? sv.outIsTerminal : sv.files.isTerminal(target)) {
      throw UsageError(
          "will not write a PDF to a terminal; give -o PATH or redirect standard output");
    }
  }
}

// Whether an existing target may be replaced, as the options say or the user answers.
bool MayReplace(const Options& o, const std::string& target, OptionServices& sv) {
  // A link that leads nowhere counts as there: it is replaced, never written through.
  if (target == "-" || !sv.files.isTaken(target)) return true;
  if (o.overwrite == OverwritePolicy::Never) {
    Complain(sv.err, target + ": already exists; not replaced (--no-clobber)");
    return false;
  }
  return o.overwrite == OverwritePolicy::Force ||
         sv.messages.show(kOverwriteQuestion, platform::Buttons::YesNo, platform::Icon::Warning,
                          platform::DefaultButton::First, target) == platform::Answer::Yes;
}

// Converts one input into its target ("-" on either side is a standard stream)
// with the run's fonts; true when the conversion was clean.
bool ConvertOne(const Options& o, const std::string& input, const std::string& target,
                OptionServices& sv, const FontSettings& fonts) {
  // Asked before standard input is read, so the terminal can still answer.
  if (!MayReplace(o, target, sv)) return false;
  const std::string shown = input == "-" ? std::string(kStdinName) : input;
  try {
    StandardStreams streams(input, target, sv);
    if (streams.inputEmpty()) {
      Complain(sv.err, shown + ": empty; nothing to convert");
      return false;
    }
    PdfWriter writer(streams.files(), streams.messages(), sv.clock);
    writer.setLayout(o.layout);
    FontSettings settings = fonts;
    settings.rereadable = input != "-";
    writer.setFontSettings(std::move(settings));
    writer.setNamesFiles(true);
    const bool clean =
        writer.ConvertToPDF(streams.inputFile(), streams.outputFile(), o.author, o.creator,
                            o.keywords, o.subject, o.title, o.font, o.size, o.rotation,
                            o.pwidth, o.pheight);
    if (writer.inputHeldNul()) {
      Complain(sv.err, shown + ": warning: this looks like a binary file (it holds NUL bytes); "
                               "converted as text");
    }
    return clean;
  } catch (const platform::Failure& e) {
    Complain(sv.err, shown + ": " + e.what());
    return false;
  }
}

}  // namespace

int RunBatch(const Options& o, OptionServices& sv) {
  const std::vector<std::string> targets = Targets(o);
  CheckTargets(o, targets, sv);
  // Standard input may hold a long line whole in memory; what a conversion of
  // it frees goes back to the system as it always did.
  if (sv.prepareHeap != nullptr &&
      std::none_of(o.inputs.begin(), o.inputs.end(), [](const std::string& in) { return in == "-"; })) {
    sv.prepareHeap();
  }

  // The fonts come from the font module; when it cannot be loaded, the first
  // input that needs it tells why, and later ones only that it is missing.
  bool toldWhy = false;
  // The processors are counted once, and only for work that more of them can share.
  const FontSettings fonts{true, o.fontFile, true,
                           [&toldWhy](std::string& error) {
                             FontModule* module = OpenFontModule(error);
                             if (module == nullptr && std::exchange(toldWhy, true)) error.clear();
                             return module;
                           },
                           [] {
                             static const unsigned usable = platform::UsableProcessors();
                             return usable;
                           }};
  int failures = 0;
  const std::size_t count = o.inputs.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (sv.errIsTerminal && !o.quiet) {
      const std::string shown = o.inputs[i] == "-" ? kStdinName : o.inputs[i];
      Say(sv.err, "converting " + shown + " (" + std::to_string(i + 1) + "/" +
                      std::to_string(count) + ")\n");
    }
    if (!ConvertOne(o, o.inputs[i], targets[i], sv, fonts)) ++failures;
  }
  return failures == 0 ? kExitSuccess : kExitConversionFailed;
}

}  // namespace scrivane
