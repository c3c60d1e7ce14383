#include "engine/PatchFit.h"

namespace engine {

namespace {

// True when every digest named (an empty one names nothing) equals the image's, and at least
// one is named when `need_one`.
bool NamedDigestsEqual(const TText& pack_dat, const TText& pack_inc, const TImageDigests& image,
                       bool need_one) {
    if (need_one && pack_dat.empty() && pack_inc.empty())
        return false;
    return (pack_dat.empty() || EqualNoCase(pack_dat, image.PackDat)) &&
           (pack_inc.empty() || EqualNoCase(pack_inc, image.PackInc));
}

} // namespace

TPatchFit JudgePatchFit(const TDescriptionFields& patch, const TImageDigests& image) {
    if (NamedDigestsEqual(patch.OriginalPackDatMD5, patch.OriginalPackIncMD5, image, false))
        return TPatchFit::Fits;
    if (NamedDigestsEqual(patch.PatchedPackDatMD5, patch.PatchedPackIncMD5, image, true))
        return TPatchFit::Installed;
    return TPatchFit::Differs;
}

std::string_view FitName(TPatchFit fit) {
    switch (fit) {
    case TPatchFit::Fits:
        return "fits";
    case TPatchFit::Differs:
        return "differs";
    case TPatchFit::Installed:
        return "installed";
    }
    return {};
}

std::string_view FitMarkKey(TPatchFit fit) {
    switch (fit) {
    case TPatchFit::Fits:
        return "FitMarkFits";
    case TPatchFit::Differs:
        return "FitMarkDiffers";
    case TPatchFit::Installed:
        return "FitMarkInstalled";
    }
    return {};
}

TFitExplanation ExplainPatchFit(TPatchFit fit, const TDescriptionFields& patch,
                                const TImageDigests& image, const TText& image_region) {
    TFitExplanation explanation;
    if (fit == TPatchFit::Installed) {
        explanation.Key = u"PatchAlreadyInstalled";
        return explanation;
    }
    if (fit != TPatchFit::Differs)
        return explanation;
    explanation.Key = u"PatchDoesNotFit";
    explanation.Region = patch.Region.empty() ? image_region : patch.Region;
    const auto add = [&](std::u16string_view file, const TText& wanted, const TText& found) {
        if (!wanted.empty())
            explanation.Lines.push_back({file, found.empty() ? TText(u"-") : found, wanted});
    };
    add(u"pack.dat", patch.OriginalPackDatMD5, image.PackDat);
    add(u"pack.inc", patch.OriginalPackIncMD5, image.PackInc);
    return explanation;
}

} // namespace engine
