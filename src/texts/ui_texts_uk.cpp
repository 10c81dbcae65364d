// English interface texts ("UK"). Spellings, spaces and punctuation are the
// program's own and are shown exactly as written here, slips included.

#include "texts/ui_texts_tables.h"

namespace pixmoor::texts::tables {
namespace {

constexpr ShortText kShort[] = {
    // Menus.
    {&UiTexts::menuInformation, "Information"},
    {&UiTexts::menuAbout, "&About the software ?"},
    {&UiTexts::menuUsage, "Using Pixmoor"},
    {&UiTexts::menuFormats, "Which format to choose?"},
    {&UiTexts::menuResolution, "Which resolution to choose?"},
    {&UiTexts::menuDonateHelp, "How to make donation?"},
    {&UiTexts::menuOnline, " Online"},
    {&UiTexts::menuDonate, " &Donate"},
    {&UiTexts::menuUpdate, "Check &update"},
    {&UiTexts::menuVisit, "&Visit the website"},
    {&UiTexts::menuQuit, "&Exit"},
    {&UiTexts::menuPreferences, " Preferences"},
    {&UiTexts::menuFrench, " French"},
    {&UiTexts::menuEnglish, " English"},
    {&UiTexts::menuDutch, " Dutch"},
    {&UiTexts::menuSpanish, " Spanish"},
    {&UiTexts::menuAdjustDesktop, "Adjust resolution to desktop size"},

    // Controls and balloon tips.
    {&UiTexts::relativeModeCaption, " Relative"},
    {&UiTexts::freeModeCaption, " Free"},
    {&UiTexts::stopCaption, "Stop"},
    {&UiTexts::formatTitle, "Output format"},
    {&UiTexts::sizeTitle, "Size of the pictures"},
    {&UiTexts::landscapeWidthLabel, "Width size :"},
    {&UiTexts::portraitHeightLabel, "Height size :"},
    {&UiTexts::qualityLabel, "0 : Bad - 10 : Best"},
    {&UiTexts::prefixLabel, " Prefix : "},
    {&UiTexts::changePrefixCaption, "Change prefix"},
    {&UiTexts::widthWord, "Width"},
    {&UiTexts::heightWord, "Height"},
    {&UiTexts::landscapeHint, "for 'landscape' pictures "},
    {&UiTexts::portraitHint, "for 'portrait' pictures "},
    {&UiTexts::alwaysOnTopCaption, " Keep the window always visible"},
    {&UiTexts::presetsCaption, " > Resolutions"},
    {&UiTexts::helpTitle, "Help"},
    {&UiTexts::dropInvite, "Drag & Drop yours pictures !"},

    // Prefix command, presets and Stop.
    {&UiTexts::cancelledText, "Cancel"},
    {&UiTexts::resolutionChangedText, "Resolution has been changed"},
    {&UiTexts::prefixUnchangedText, "Prefixe has not been changed"},
    {&UiTexts::prefixBoxTitle, "Choice of Prefix"},
    {&UiTexts::prefixBoxPrompt, "Type the prefixe (0 = no prefix)"},
    {&UiTexts::noPrefixTitle, "No prefix"},
    {&UiTexts::noPrefixWarning,
     "Be careful, you did not specify a prefix, it means that you will overwrite the original "
     "images..\nDo you really want to overwrite the original images?"},
    {&UiTexts::prefixSetText, "New prefix done"},
    {&UiTexts::stopCountPrefix, "Stop : "},

    // Saving the settings.
    {&UiTexts::savedText, "The change has been saved."},
    {&UiTexts::saveFailedText, "Unable to save prefs !"},
    {&UiTexts::saveFailedHelp,
     "Unable to save preferences, please check you are using a writesupport and that you have "
     "admin rights."},

    // Batch completion.
    {&UiTexts::finishedPrefix, "Finish ! "},
    {&UiTexts::finishedSuffix, " pictures were processed.."},

    // The pictures that produced no file.
    {&UiTexts::failuresHeadingOne, " picture produced no file:"},
    {&UiTexts::failuresHeadingMany, " pictures produced no file:"},
    {&UiTexts::failureSeparator, ": "},
    {&UiTexts::reasonUnreadable, "unreadable"},
    {&UiTexts::reasonUnknownFormat, "unknown format"},
    {&UiTexts::reasonUnsupported, "unsupported picture (too large or unusable)"},
    {&UiTexts::reasonTooLargeForMemory, "too large for the available memory"},
    {&UiTexts::reasonNoSize, "no size (the size settings give no usable target)"},
    {&UiTexts::reasonResampleFailed, "resampling failed"},
    {&UiTexts::reasonNoOutputFormat, "no output format (TYPE is neither JPG nor PNG)"},
    {&UiTexts::reasonWriteFailed, "write failed"},
    {&UiTexts::reasonWriteProtected, "write-protected file"},
    {&UiTexts::reasonFolderNotWritable, "folder not writable"},
    {&UiTexts::reasonNotAFile, "the output's name is not a file (a folder, a FIFO or a device)"},
    {&UiTexts::reasonLinkRefused, "a link that is not followed (it leads nowhere, or is not yours)"},
    {&UiTexts::reasonNameTooLong, "name too long"},
    {&UiTexts::reasonIncomplete, "incomplete picture (its data ended or broke off early)"},
    {&UiTexts::reasonChangedWhileRead, "changed while it was read (still being written?)"},
    {&UiTexts::reasonDiskFull, "disk full"},
    {&UiTexts::reasonStopped, "stopped"},
    {&UiTexts::reasonWouldReplaceAnother, "would replace another picture"},
    {&UiTexts::reasonNotTrashed, "the Trash refused it (left untouched)"},
    {&UiTexts::reasonTrashedNotReplaced,
     "the original went to the Trash, then the output could not take its name"},
    {&UiTexts::reasonDamaged, "damaged (its decoder crashed or broke its limits on it)"},
    {&UiTexts::reasonNotConfined, "not read: its decoder could not be confined"},
    {&UiTexts::reasonSandboxViolation, "refused: its decoder tried what its sandbox forbids"},
    {&UiTexts::reasonTimedOut, "timed out (its decoder took too long on it)"},
    {&UiTexts::reasonTooManyOpenFiles,
     "too many files open (the limit of open files, ulimit -n, is reached)"},

    // The file managers' action.
    {&UiTexts::actionRunning, "Resizing the pictures you chose..."},
    {&UiTexts::actionStop, "Stop"},
    {&UiTexts::actionDoneOne, " picture done"},
    {&UiTexts::actionDoneMany, " pictures done"},
    {&UiTexts::actionWrittenOne, " picture written"},
    {&UiTexts::actionWrittenMany, " pictures written"},
    {&UiTexts::actionStoppedPrefix, "Stopped: "},
    {&UiTexts::actionStoppedTotalPrefix, "Done before the Stop: "},
    {&UiTexts::actionStoppedTotalOf, " of "},
    {&UiTexts::actionWarningsHeadingOne, " picture written with a warning:"},
    {&UiTexts::actionWarningsHeadingMany, " pictures written with a warning:"},
    {&UiTexts::warningTruncated,
     "truncated (its data ended or broke off early; the missing part is filled in)"},
    {&UiTexts::warningChangedWhileRead, "changed while it was read (the output is of what was read)"},
    {&UiTexts::warningExifDamaged, "EXIF block damaged (left out of the output)"},
    {&UiTexts::warningExifTooLarge, "EXIF block larger than a JPEG holds (left out of the output)"},
    {&UiTexts::actionNotAPicture, "not a picture (its name is not one of a picture format)"},
    {&UiTexts::actionNoPictureFound, "no picture found (its subfolders are not entered)"},

    // Update check.
    {&UiTexts::noInternetText, "No internet connection is available."},
    {&UiTexts::updateTitle, "Update"},
    {&UiTexts::latestVersionText, "You have the latest version"},
    {&UiTexts::versionAvailablePrefix, "Version "},
    {&UiTexts::versionAvailableSuffix,
     " is available, you want to download it?\n(Click Yes button to go to the download page)"},
    {&UiTexts::userCancelledText, "User canceled"},

    // Settings summary.
    {&UiTexts::relativeModeHelp, "The relative mode allows a proportional resizing images."},
    {&UiTexts::freeModeHelp, "Free mode allows a free resizing, the image could be distorted."},
    {&UiTexts::sizesIntro, "Scaling based on the "},
    {&UiTexts::modePrefix, "Mode : "},
    {&UiTexts::finalSizePrefix, "Size of the ouput picture:"},
    {&UiTexts::sizePrefix, "Size : "},
    {&UiTexts::qualityPrefix, "Image quality: "},
    {&UiTexts::freeWord, "free"},
    {&UiTexts::outputFormatPrefix, "Output format : "},
    {&UiTexts::screenResolutionPrefix, " > Screen resolution : "},
    {&UiTexts::relativeWord, "relative"},
    {&UiTexts::widthLetter, "W"},
    {&UiTexts::heightLetter, "H"},
};

constexpr std::string_view kAbout[] = {
    "{title}",
    "",
    "This software has been coded by Orvandel",
    "{site}",
    "",
    "",
    "",
    "Greets to the Norvane forum users for their help, Thanks to my wife for her constant "
    "support, Finally, thanks to donors who allow me to continue developing free software.",
};

constexpr std::string_view kUsage[] = {
    "Using Pixmoor",
    "",
    "First, choose Free or Relative format.",
    "Then choose output JPG or PNG format.",
    "(Remember to adjust the quality for JPG (8/10 by default))",
    "You can also change the prefix of the future images. (default : min_).",
    "Note that if you do not using prefix (or 0), the pictures will be overwrite ! Please do not "
    "go wrong size if you do not prefix.",
    "Once these settings are ok, you'll just have to drag / drop your picture files on PIXMOOR or "
    "simply drag / drop the folder containing the images.",
    "This second solution will not include the subdirectories but will process all images in the "
    "folder.",
    "Finally, note that your settings are saved automatically.",
};

constexpr std::string_view kFormats[] = {
    "Which format to choose?",
    "",
    "> Free Mode <",
    "This mode allows you to resize images to desired size, without observing the ratio width / "
    "height. It will be necessary to quickly create an avatar whose size is dictated by such a "
    "forum.",
    "",
    "> Relative mode <",
    "This is the most used mode, you can set a width for landscape pictures and a height for the "
    "portrait pictures. the target picture will not be distored.",
    "Ideal for batch resizing of photos.",
    "",
    "> Format JPG/JPEG <",
    "This image format is called 'destructive', however, is the best compromise to save space "
    "while maintaining quality ",
    "correct if you choose at least '8 'in quality options.",
    "",
    "> Format PNG <",
    "It's a non destructive format and allows you to save space compared to the basic BMP format.",
    "Less efficient in compression (for photos) as JPG, PNG images will be used for printing.",
};

constexpr std::string_view kResolution[] = {
    "Which resolution to choose?",
    "",
    "Cameras now take pictures of very large size, suitable for printing, they are often too "
    "large to be only viewed on a computer screen or TV.",
    "",
    "We suggest you draw on your screen resolution that is:{width} x {height}",
    "If your pictures are wider than tall (landscape), so you rely on a width of  {width} in "
    "relative mode.",
    "At the opposite, Conversely, if your photos are taller than wide (portrait), so you rely on "
    "the height in relative mode using as size {height}",
    "Tips : Try first with one photo and see if the result is good.",
};

constexpr std::string_view kDonate[] = {
    "How to make donation ?",
    "",
    "In the online menu, choose 'Donate' or simply press 'D'.",
    "You'll be redirected to the website page, just click on the orange button 'Faire un don'.",
    "Paypal is a secure service.",
    "",
    "Remeber that your donations, even small, are very important. They provide real support to "
    "the development of new software.",
    "Thank you.",
};

constexpr LongText kLong[] = {
    {&UiTexts::aboutText, kAbout},     {&UiTexts::helpUsage, kUsage},
    {&UiTexts::helpFormats, kFormats}, {&UiTexts::helpResolution, kResolution},
    {&UiTexts::helpDonate, kDonate},
};

constexpr LanguageTable kEnglish{kShort, kLong};

}  // namespace

const LanguageTable& englishTable() {
  return kEnglish;
}

}  // namespace pixmoor::texts::tables
