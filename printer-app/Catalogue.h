// What a model offers over IPP, read from its shipped PPD: the label sizes,
// the choices behind the standard label attributes and the vendor
// attributes. The PPD stays the one list of settings and choices; this file
// only names which of its options the standard IPP attributes stand for,
// and what print-quality and print-content-optimize choose on a label.
#ifndef VORCP_PRINTERAPP_CATALOGUE_H
#define VORCP_PRINTERAPP_CATALOGUE_H

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vorcp {

struct Choice {
    std::string keyword; // IPP keyword
    std::string name;    // PPD choice name
    double value;        // the number in the choice's code
    std::string text;    // what the PPD shows a user
};

struct VendorOption {
    std::string attribute;  // IPP attribute name
    std::string ppdKeyword; // PPD option keyword; none for the quality and content mapping
    std::vector<Choice> choices;
    std::string defaultKeyword; // for a number: the default number
    std::string text;           // what the PPD shows a user
    // A number instead of choices: a darkness change from min to max.
    bool number = false;
    int min = 0, max = 0;
};

struct MediaSize {
    std::string pwg; // PWG self-describing name
    int width;       // hundredths of a millimetre
    int length;
};

struct ModelCatalogue {
    std::string ppdPath;
    std::string makeAndModel;
    int dpi = 0;
    std::vector<MediaSize> media;
    size_t defaultMedia = 0;
    std::string customMin, customMax; // PWG names of the custom size range
    int maxWidth = 0, maxLength = 0;  // hundredths of a millimetre
    std::vector<VendorOption> vendor;
    // The PPD choices the standard attributes select among.
    std::vector<Choice> density; // darkness levels, lightest first
    size_t densityDefault = 0;
    std::vector<Choice> shiftValues;             // offset distances in millimetres
    std::string trackingDefault;                 // "continuous", "gap" or "mark"
    std::string labelModeDefault;                // "tear-off", "peel-off", "cutter", ...
    std::map<std::string, std::string> defaults; // PPD keyword -> default choice name
};

// IPP spelling of a PPD name: words of a CamelCase name joined by hyphens,
// in lower case ("FloydSteinberg" -> "floyd-steinberg", "GAPHeight" ->
// "gap-height").
std::string IppName(const std::string &name);

// Reads the model's PPD. False with the reason in error when it cannot be
// used.
bool LoadCatalogue(const std::string &ppdPath, ModelCatalogue *model, std::string *error);

// The settings a job prints with, in IPP terms.
struct LabelSettings {
    std::string tracking;                      // media-tracking
    std::string labelMode;                     // label-mode-configured
    int darknessConfigured = -1;               // printer-darkness-configured, 0..100
    int printDarkness = 0;                     // print-darkness, -100..100
    int leftOffset = 0, topOffset = 0;         // media-*-offset, hundredths of a mm
    std::map<std::string, std::string> vendor; // attribute -> keyword, the job's or the printer's
    bool ownHalftone = false;                  // vorcp-halftone is the job's own
    // print-quality and print-content-optimize ("draft", "photo"; "": none),
    // the job's or else the printer's defaults.
    std::string quality, content;
};

// The PPD choices equivalent to the settings, as the option string a filter
// job would carry ("Keyword=Choice ..."). Unknown keywords keep the PPD
// default. Fails only for a model whose PPD lacks the mapped options.
//
// The halftone is the job's own vorcp-halftone; without one, the one
// print-quality maps to (vorcp-quality-*-halftone), unless that is
// "default"; then the one print-content-optimize maps to
// (vorcp-content-*-halftone); then vorcp-halftone. print-quality's
// vorcp-quality-*-darkness is added to the darkness. The mapping is the
// job's own where it gives one, else the printer's.
std::string PpdOptions(const ModelCatalogue &model, const LabelSettings &settings);

// The web page's texts for the vendor attributes and their choices, as a
// strings file ("vorcp-halftone" = "Halftoning";): the PPD's own texts.
std::string SettingTexts(const ModelCatalogue &model);

// The darkness percentage that stands for a darkness level, and back.
int DarknessPercent(const ModelCatalogue &model, size_t level);
size_t DarknessLevel(const ModelCatalogue &model, int percent);

} // namespace vorcp

#endif
