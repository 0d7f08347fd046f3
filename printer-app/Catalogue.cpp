#include "Catalogue.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <cups/cups.h>
#include <cups/ppd.h>

namespace vorcp {

namespace {

// The PPD options that no standard IPP attribute stands for, under the
// names the web page lists them by, in its order.
const std::pair<const char *, const char *> kVendor[] = {
    {"Halftone", "halftone"},
    {"Rotation", "rotation"},
    {"Mirror", "mirror"},
    {"NegativeFilm", "negative"},
    {"Brightness", "brightness"},
    {"Contrast", "contrast"},
    {"Levels", "gamma"},
    {"MaxOutputWidth", "max-width"},
    {"IsToDashed", "dash-lines"},
    {"MinLength", "dash-min-length"},
    {"IntervalBlack", "dash-length"},
    {"IntervalWhite", "dash-gap"},
    {"GAPHeight", "gap-height"},
    {"GAPOffset", "gap-offset"},
    {"PrintMethod", "print-method"},
    {"SavePaper", "save-paper"},
    {"Interval", "cut-interval"},
    {"Feed", "feed"},
};

// What print-quality and print-content-optimize choose on a label unless a
// printer is set otherwise: the crisp threshold for drafts and text,
// ordered dither for flat tints, error diffusion for photos and high
// quality, the printer's own halftone where nothing is asked. The
// darkness is left as it is.
struct Mapped {
    const char *attribute; // "quality" (print-quality) or "content"
    const char *value;     // the standard attribute's keyword
    const char *title;     // its name on the web page
    const char *halftone;  // a Halftone choice, or "default"
};
const Mapped kMapped[] = {
    {"quality", "draft", "Draft", "threshold"},
    {"quality", "normal", "Normal", "default"},
    {"quality", "high", "High", "stucki"},
    {"content", "auto", "Automatic", "default"},
    {"content", "graphic", "Graphics", "bayer8"},
    {"content", "photo", "Photo", "floyd-steinberg"},
    {"content", "text", "Text", "threshold"},
    {"content", "text-and-graphic", "Text and Graphics", "threshold"},
};
const char kPassOn[] = "default"; // a mapping that leaves the halftone to what comes next

std::string MappedAttribute(const char *attribute, const std::string &value, const char *what) {
    return std::string("vorcp-") + attribute + "-" + value + "-" + what;
}

// Standard attribute values and the PPD choices they select.
struct Pair {
    const char *ipp;
    const char *ppd;
};
const Pair kTracking[] = {{"continuous", "Continuous"}, {"gap", "Gap"}, {"mark", "BlackMark"}};
const Pair kModes[] = {{"tear-off", "TearOff"},
                       {"peel-off", "PeelOff"},
                       {"cutter", "Cutter"},
                       {"cutter-delayed", "Cutter"},
                       {"rewind", "None"}};

const char *PpdFor(const Pair *table, size_t n, const std::string &ipp) {
    for (size_t i = 0; i < n; ++i) {
        if (ipp == table[i].ipp) {
            return table[i].ppd;
        }
    }
    return nullptr;
}

std::vector<Choice> ChoicesOf(ppd_option_t *option) {
    std::vector<Choice> out;
    for (int i = 0; i < option->num_choices; ++i) {
        const ppd_choice_t &c = option->choices[i];
        out.push_back({IppName(c.choice), c.choice, strtod(c.code ? c.code : "", nullptr), c.text});
    }
    return out;
}

std::string DefaultOf(ppd_option_t *option) {
    return option->defchoice;
}

// PWG name of a label size: the standard name where one exists, else a
// self-describing one in the unit the PPD names it in.
std::string PwgName(const ppd_size_t &size) {
    const int w = PWG_FROM_POINTS(size.width), l = PWG_FROM_POINTS(size.length);
    pwg_media_t *known = pwgMediaForSize(w, l);
    if (known != nullptr && strncmp(known->pwg, "custom_", 7) != 0) {
        return known->pwg;
    }
    std::string name = size.name;
    const bool mm = name.size() > 2 && name.compare(name.size() - 2, 2, "mm") == 0;
    if (mm) {
        name.resize(name.size() - 2);
    }
    char pwg[128];
    pwgFormatSizeName(pwg, sizeof(pwg), mm ? "om" : "oe", (name + "-label").c_str(), w, l,
                      mm ? "mm" : "in");
    return pwg;
}

// The vendor attributes that say what print-quality and
// print-content-optimize choose: a halftone (the PPD's choices, or the
// printer's own) and, for print-quality, a darkness change.
void AddMapping(ppd_file_t *ppd, ModelCatalogue *m) {
    const VendorOption halftone =
        *std::find_if(m->vendor.begin(), m->vendor.end(),
                      [](const VendorOption &v) { return v.ppdKeyword == "Halftone"; });
    const std::string darkness = ppdFindOption(ppd, "Density")->text;
    for (const Mapped &map : kMapped) {
        const bool quality = strcmp(map.attribute, "quality") == 0;
        const std::string what =
            std::string(" for ") + map.title + (quality ? " Quality" : " Content");
        VendorOption v;
        v.attribute = MappedAttribute(map.attribute, map.value, "halftone");
        v.text = halftone.text + what;
        v.choices.push_back({kPassOn, "", 0, "The printer's " + halftone.text});
        v.defaultKeyword = kPassOn;
        for (const Choice &c : halftone.choices) {
            v.choices.push_back(c);
            if (c.keyword == map.halftone) {
                v.defaultKeyword = c.keyword;
            }
        }
        m->vendor.push_back(v);
        if (quality) {
            VendorOption d;
            d.attribute = MappedAttribute(map.attribute, map.value, "darkness");
            d.text = darkness + " Change" + what;
            d.defaultKeyword = std::to_string(0); // no change
            d.number = true;
            d.min = -100, d.max = 100;
            m->vendor.push_back(d);
        }
    }
}

// A text in a strings file's quotes. The web page shows it as HTML as it
// is, so the characters that mean something there are written as such.
std::string Quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

struct PpdCloser {
    void operator()(ppd_file_t *ppd) const { ppdClose(ppd); }
};

} // namespace

std::string IppName(const std::string &name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = (unsigned char)name[i];
        if (isupper(c) && i > 0) {
            const unsigned char prev = (unsigned char)name[i - 1];
            const bool nextLower = i + 1 < name.size() && islower((unsigned char)name[i + 1]);
            if (islower(prev) || isdigit(prev) || (isupper(prev) && nextLower)) {
                out += '-';
            }
        }
        out += isalnum(c) || c == '.' || c == '-' ? (char)tolower(c) : '-';
    }
    return out;
}

bool LoadCatalogue(const std::string &ppdPath, ModelCatalogue *model, std::string *error) {
    std::unique_ptr<ppd_file_t, PpdCloser> ppd(ppdOpenFile(ppdPath.c_str()));
    if (!ppd) {
        int line = 0;
        ppd_status_t status = ppdLastError(&line);
        *error = ppdPath + ": " + ppdErrorString(status) + " on line " + std::to_string(line);
        return false;
    }
    ModelCatalogue m;
    m.ppdPath = ppdPath;
    m.makeAndModel = ppd->modelname ? ppd->modelname : "";
    ppd_attr_t *resolution = ppdFindAttr(ppd.get(), "DefaultResolution", nullptr);
    m.dpi = resolution && resolution->value ? atoi(resolution->value) : 0;
    if (m.dpi <= 0) {
        *error = ppdPath + ": no resolution";
        return false;
    }

    ppd_option_t *pageSize = ppdFindOption(ppd.get(), "PageSize");
    for (int i = 0; i < ppd->num_sizes; ++i) {
        const ppd_size_t &size = ppd->sizes[i];
        if (strcmp(size.name, "Custom") == 0) {
            continue;
        }
        if (pageSize && strcmp(pageSize->defchoice, size.name) == 0) {
            m.defaultMedia = m.media.size();
        }
        m.media.push_back(
            {PwgName(size), PWG_FROM_POINTS(size.width), PWG_FROM_POINTS(size.length)});
    }
    if (ppd->variable_sizes) {
        char pwg[128];
        pwgFormatSizeName(pwg, sizeof(pwg), "custom", "min", PWG_FROM_POINTS(ppd->custom_min[0]),
                          PWG_FROM_POINTS(ppd->custom_min[1]), "mm");
        m.customMin = pwg;
        m.maxWidth = PWG_FROM_POINTS(ppd->custom_max[0]);
        m.maxLength = PWG_FROM_POINTS(ppd->custom_max[1]);
        pwgFormatSizeName(pwg, sizeof(pwg), "custom", "max", m.maxWidth, m.maxLength, "mm");
        m.customMax = pwg;
    }
    for (const MediaSize &size : m.media) {
        m.maxWidth = std::max(m.maxWidth, size.width);
        m.maxLength = std::max(m.maxLength, size.length);
    }

    for (const auto &vendor : kVendor) {
        const char *keyword = vendor.first;
        ppd_option_t *option = ppdFindOption(ppd.get(), keyword);
        if (option == nullptr) {
            *error = ppdPath + ": no option " + keyword;
            return false;
        }
        VendorOption v;
        v.attribute = std::string("vorcp-") + vendor.second;
        v.ppdKeyword = keyword;
        v.choices = ChoicesOf(option);
        v.defaultKeyword = IppName(DefaultOf(option));
        v.text = option->text;
        m.vendor.push_back(v);
    }

    const char *standard[] = {"Density",        "MediaType",          "Mode",
                              "CutMethod",      "HorizontalOffset",   "HorizontalOffsetValue",
                              "VerticalOffset", "VerticalOffsetValue"};
    for (const char *keyword : standard) {
        ppd_option_t *option = ppdFindOption(ppd.get(), keyword);
        if (option == nullptr) {
            *error = ppdPath + ": no option " + keyword;
            return false;
        }
        m.defaults[keyword] = DefaultOf(option);
    }
    for (const VendorOption &v : m.vendor) {
        for (const Choice &c : v.choices) {
            if (!v.ppdKeyword.empty() && IppName(c.name) == v.defaultKeyword) {
                m.defaults[v.ppdKeyword] = c.name;
            }
        }
    }

    AddMapping(ppd.get(), &m);
    m.density = ChoicesOf(ppdFindOption(ppd.get(), "Density"));
    for (size_t i = 0; i < m.density.size(); ++i) {
        if (m.density[i].name == m.defaults["Density"]) {
            m.densityDefault = i;
        }
    }
    m.shiftValues = ChoicesOf(ppdFindOption(ppd.get(), "HorizontalOffsetValue"));

    for (const Pair &p : kTracking) {
        if (m.defaults["MediaType"] == p.ppd) {
            m.trackingDefault = p.ipp;
        }
    }
    const std::string &mode = m.defaults["Mode"];
    for (const Pair &p : kModes) {
        if (mode == p.ppd && m.labelModeDefault.empty()) {
            m.labelModeDefault = p.ipp;
        }
    }
    if (mode == "Cutter" && m.defaults["CutMethod"] == "EndOfJob") {
        m.labelModeDefault = "cutter-delayed";
    }
    *model = std::move(m);
    return true;
}

int DarknessPercent(const ModelCatalogue &model, size_t level) {
    const size_t top = model.density.size() > 1 ? model.density.size() - 1 : 1;
    return (int)((level * 100 + top / 2) / top);
}

size_t DarknessLevel(const ModelCatalogue &model, int percent) {
    const int top = model.density.size() > 1 ? (int)model.density.size() - 1 : 0;
    percent = std::clamp(percent, 0, 100);
    return (size_t)((percent * top + 50) / 100);
}

namespace {

// A shift in hundredths of a millimetre as the PPD's direction and nearest
// distance choices.
void Shift(const ModelCatalogue &model, int offset, const char *positive, const char *negative,
           const std::string &dirKeyword, const std::string &valueKeyword, std::string *out) {
    const double mm = std::fabs(offset / 100.0);
    const Choice *best = nullptr;
    for (const Choice &c : model.shiftValues) {
        if (best == nullptr || std::fabs(c.value - mm) < std::fabs(best->value - mm)) {
            best = &c;
        }
    }
    const bool none = offset == 0 || best == nullptr || best->value == 0;
    *out += " " + dirKeyword + "=" + (none ? "None" : (offset > 0 ? positive : negative));
    if (best != nullptr) {
        *out += " " + valueKeyword + "=" + (none ? model.defaults.at(valueKeyword) : best->name);
    }
}

// The value a setting prints with: the job's or the printer's, else the
// model's default.
std::string ValueOf(const LabelSettings &s, const VendorOption &v) {
    auto it = s.vendor.find(v.attribute);
    return it != s.vendor.end() ? it->second : v.defaultKeyword;
}

const VendorOption *Find(const ModelCatalogue &model, const std::string &attribute) {
    for (const VendorOption &v : model.vendor) {
        if (v.attribute == attribute) {
            return &v;
        }
    }
    return nullptr;
}

// The halftone print-quality, else print-content-optimize, chooses; ""
// leaves it to vorcp-halftone. A keyword the mapping does not offer passes
// on like "default".
std::string MappedHalftone(const ModelCatalogue &model, const LabelSettings &s) {
    const std::pair<const char *, const std::string *> order[] = {{"quality", &s.quality},
                                                                  {"content", &s.content}};
    for (const auto &[attribute, value] : order) {
        const VendorOption *map = Find(model, MappedAttribute(attribute, *value, "halftone"));
        if (value->empty() || map == nullptr) {
            continue;
        }
        const std::string keyword = ValueOf(s, *map);
        for (const Choice &c : map->choices) {
            if (c.keyword == keyword && keyword != kPassOn) {
                return keyword;
            }
        }
    }
    return "";
}

// The darkness change print-quality brings, in percent.
int MappedDarkness(const ModelCatalogue &model, const LabelSettings &s) {
    const VendorOption *map = Find(model, MappedAttribute("quality", s.quality, "darkness"));
    if (s.quality.empty() || map == nullptr) {
        return 0;
    }
    return std::clamp(atoi(ValueOf(s, *map).c_str()), map->min, map->max);
}

} // namespace

std::string PpdOptions(const ModelCatalogue &model, const LabelSettings &s) {
    std::string out;
    const char *tracking = PpdFor(kTracking, sizeof(kTracking) / sizeof(kTracking[0]), s.tracking);
    out +=
        std::string("MediaType=") + (tracking ? tracking : model.defaults.at("MediaType").c_str());

    const char *mode = PpdFor(kModes, sizeof(kModes) / sizeof(kModes[0]), s.labelMode);
    out += std::string(" Mode=") + (mode ? mode : model.defaults.at("Mode").c_str());
    std::string cut = model.defaults.at("CutMethod");
    std::string interval;
    for (const VendorOption &v : model.vendor) {
        if (v.ppdKeyword != "Interval") {
            continue;
        }
        const std::string keyword = ValueOf(s, v);
        for (const Choice &c : v.choices) {
            if (c.keyword == keyword) {
                interval = c.name;
            }
        }
        if (s.labelMode == "cutter") {
            cut = interval.empty() || atoi(interval.c_str()) <= 1 ? "EveryLabel" : "Interval";
        }
    }
    if (s.labelMode == "cutter-delayed") {
        cut = "EndOfJob";
    }
    out += " CutMethod=" + cut;

    size_t level = model.densityDefault;
    if (s.darknessConfigured >= 0) {
        level =
            DarknessLevel(model, s.darknessConfigured + s.printDarkness + MappedDarkness(model, s));
    }
    if (level < model.density.size()) {
        out += " Density=" + model.density[level].name;
    }
    Shift(model, s.leftOffset, "Right", "Left", "HorizontalOffset", "HorizontalOffsetValue", &out);
    Shift(model, s.topOffset, "Down", "Up", "VerticalOffset", "VerticalOffsetValue", &out);

    const std::string mapped = s.ownHalftone ? "" : MappedHalftone(model, s);
    for (const VendorOption &v : model.vendor) {
        if (v.ppdKeyword.empty()) {
            continue;
        }
        const std::string keyword =
            v.ppdKeyword == "Halftone" && !mapped.empty() ? mapped : ValueOf(s, v);
        const Choice *chosen = nullptr;
        for (const Choice &c : v.choices) {
            if (c.keyword == keyword || (chosen == nullptr && c.keyword == v.defaultKeyword)) {
                chosen = &c;
            }
        }
        // A value the model does not have keeps the default.
        if (chosen != nullptr) {
            out += " " + v.ppdKeyword + "=" + chosen->name;
        }
    }
    return out;
}

std::string SettingTexts(const ModelCatalogue &model) {
    std::string out;
    for (const VendorOption &v : model.vendor) {
        out += Quoted(v.attribute) + " = " + Quoted(v.text) + ";\n";
        for (const Choice &c : v.choices) {
            out += Quoted(v.attribute + "." + c.keyword) + " = " + Quoted(c.text) + ";\n";
        }
    }
    return out;
}

} // namespace vorcp
