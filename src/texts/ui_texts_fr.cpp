// French interface texts ("FR"). Spellings, spaces and punctuation are the
// program's own and are shown exactly as written here.

#include "texts/ui_texts_tables.h"

namespace pixmoor::texts::tables {
namespace {

constexpr ShortText kShort[] = {
    // Menus.
    {&UiTexts::menuInformation, "Information"},
    {&UiTexts::menuAbout, "A propos du &logiciel ?"},
    {&UiTexts::menuUsage, "Utilisation de Pixmoor"},
    {&UiTexts::menuFormats, "Que choisir comme format ?"},
    {&UiTexts::menuResolution, "Quelle résolution choisir ?"},
    {&UiTexts::menuDonateHelp, "Comment faire un don ?"},
    {&UiTexts::menuOnline, " En Ligne"},
    {&UiTexts::menuDonate, "Faire un &don"},
    {&UiTexts::menuUpdate, "Vérifier si une &mise à jour est disponible"},
    {&UiTexts::menuVisit, "&Visiter le site"},
    {&UiTexts::menuQuit, "&Quitter"},
    {&UiTexts::menuPreferences, " Preferences"},
    {&UiTexts::menuFrench, " Français"},
    {&UiTexts::menuEnglish, " English"},
    {&UiTexts::menuDutch, " Dutch"},
    {&UiTexts::menuSpanish, " Espanol"},
    {&UiTexts::menuAdjustDesktop, " Ajuster la résolution au bureau"},

    // Controls and balloon tips.
    {&UiTexts::relativeModeCaption, "Mode Relatif "},
    {&UiTexts::freeModeCaption, "Mode Libre "},
    {&UiTexts::stopCaption, "Stopper"},
    {&UiTexts::formatTitle, "Choix du format de sortie"},
    {&UiTexts::sizeTitle, "Taille des futurs fichiers"},
    {&UiTexts::landscapeWidthLabel, "Largeur désirée :"},
    {&UiTexts::portraitHeightLabel, "Hauteur désirée :"},
    {&UiTexts::qualityLabel, "Qualité : 0 (mauvaise) 10 (meilleur) "},
    {&UiTexts::prefixLabel, " Préfixe : "},
    {&UiTexts::changePrefixCaption, "Modifier le préfixe"},
    {&UiTexts::widthWord, "Largeur"},
    {&UiTexts::heightWord, "Hauteur"},
    {&UiTexts::landscapeHint, "Pour les photos en 'paysage"},
    {&UiTexts::portraitHint, "Pour les photos en 'portrait"},
    {&UiTexts::alwaysOnTopCaption, " Garder la fenêtre toujours visible"},
    {&UiTexts::presetsCaption, " + Résolution"},
    {&UiTexts::helpTitle, "Aide"},
    {&UiTexts::dropInvite, "Glisser & Déposer vos photos !"},

    // Prefix command, presets and Stop.
    {&UiTexts::cancelledText, "Annulé"},
    {&UiTexts::resolutionChangedText, "Résolution modifiée"},
    {&UiTexts::prefixUnchangedText, "Préfixe inchangé"},
    {&UiTexts::prefixBoxTitle, "Choix du préfixe"},
    {&UiTexts::prefixBoxPrompt, "Ecrire le préfixe désiré (0 = pas de préfixe)"},
    {&UiTexts::noPrefixTitle, "Pas de préfixe"},
    {&UiTexts::noPrefixWarning,
     "Attention, vous n'avez pas indiqué de préfixe, cela signifie que vous allez écraser les "
     "images originales.\nVoulez-vous réellement écraser les images originales ?"},
    {&UiTexts::prefixSetText, "Nouveau préfixe paramétré"},
    {&UiTexts::stopCountPrefix, "Arrêt : "},

    // Saving the settings.
    {&UiTexts::savedText, "Modification sauvegardée."},
    {&UiTexts::saveFailedText, "Sauvegarde impossible"},
    {&UiTexts::saveFailedHelp,
     "La sauvegarde des préférences est impossible, vérifier que le support est inscriptible ou "
     "que vous bénéficiez des droits administrateurs sur cette machine."},

    // Batch completion.
    {&UiTexts::finishedPrefix, "Terminé ! "},
    {&UiTexts::finishedSuffix, " images traitées."},

    // The pictures that produced no file.
    {&UiTexts::failuresHeadingOne, " image n'a produit aucun fichier :"},
    {&UiTexts::failuresHeadingMany, " images n'ont produit aucun fichier :"},
    {&UiTexts::failureSeparator, " : "},
    {&UiTexts::reasonUnreadable, "fichier illisible"},
    {&UiTexts::reasonUnknownFormat, "format inconnu"},
    {&UiTexts::reasonUnsupported, "image non prise en charge (trop grande ou inutilisable)"},
    {&UiTexts::reasonTooLargeForMemory, "trop grande pour la mémoire disponible"},
    {&UiTexts::reasonNoSize, "aucune taille (les réglages ne donnent pas de dimensions utilisables)"},
    {&UiTexts::reasonResampleFailed, "échec du redimensionnement"},
    {&UiTexts::reasonNoOutputFormat, "aucun format de sortie (TYPE n'est ni JPG ni PNG)"},
    {&UiTexts::reasonWriteFailed, "échec de l'écriture"},
    {&UiTexts::reasonWriteProtected, "fichier protégé en écriture"},
    {&UiTexts::reasonFolderNotWritable, "dossier protégé en écriture"},
    {&UiTexts::reasonNotAFile,
     "le nom de la nouvelle image n'est pas un fichier (un dossier, un tube ou un périphérique)"},
    {&UiTexts::reasonLinkRefused, "un lien qui n'est pas suivi (il ne mène nulle part, ou n'est pas à vous)"},
    {&UiTexts::reasonNameTooLong, "nom trop long"},
    {&UiTexts::reasonIncomplete, "image incomplète (ses données s'arrêtent trop tôt)"},
    {&UiTexts::reasonChangedWhileRead, "modifiée pendant sa lecture (encore en cours d'écriture ?)"},
    {&UiTexts::reasonDiskFull, "disque plein"},
    {&UiTexts::reasonStopped, "traitement arrêté"},
    {&UiTexts::reasonWouldReplaceAnother, "remplacerait une autre image"},
    {&UiTexts::reasonNotTrashed, "refusée par la Corbeille (laissée intacte)"},
    {&UiTexts::reasonTrashedNotReplaced,
     "l'original est allé à la Corbeille, puis la nouvelle image n'a pas pu prendre son nom"},
    {&UiTexts::reasonDamaged, "image endommagée (son décodeur a planté ou dépassé ses limites)"},
    {&UiTexts::reasonNotConfined, "non lue : son décodeur n'a pas pu être isolé"},
    {&UiTexts::reasonSandboxViolation, "refusée : son décodeur a tenté ce que son isolement interdit"},
    {&UiTexts::reasonTimedOut, "délai dépassé (son décodeur a pris trop de temps)"},
    {&UiTexts::reasonTooManyOpenFiles,
     "trop de fichiers ouverts (la limite de fichiers ouverts, ulimit -n, est atteinte)"},

    // The file managers' action.
    {&UiTexts::actionRunning, "Redimensionnement des images choisies..."},
    {&UiTexts::actionStop, "Arrêter"},
    {&UiTexts::actionDoneOne, " image traitée"},
    {&UiTexts::actionDoneMany, " images traitées"},
    {&UiTexts::actionWrittenOne, " image écrite"},
    {&UiTexts::actionWrittenMany, " images écrites"},
    {&UiTexts::actionStoppedPrefix, "Arrêt : "},
    {&UiTexts::actionStoppedTotalPrefix, "Traitées avant l'arrêt : "},
    {&UiTexts::actionStoppedTotalOf, " sur "},
    {&UiTexts::actionWarningsHeadingOne, " image écrite avec un avertissement :"},
    {&UiTexts::actionWarningsHeadingMany, " images écrites avec un avertissement :"},
    {&UiTexts::warningTruncated,
     "tronquée (ses données s'arrêtent trop tôt ; la partie manquante est remplie)"},
    {&UiTexts::warningChangedWhileRead, "modifiée pendant sa lecture (la sortie est ce qui a été lu)"},
    {&UiTexts::warningExifDamaged, "bloc EXIF endommagé (absent de la sortie)"},
    {&UiTexts::warningExifTooLarge,
     "bloc EXIF plus grand qu'un JPEG ne peut en contenir (absent de la sortie)"},
    {&UiTexts::actionNotAPicture, "pas une image (son nom n'est pas celui d'un format d'image)"},
    {&UiTexts::actionNoPictureFound, "aucune image trouvée (ses sous-dossiers ne sont pas parcourus)"},

    // Update check.
    {&UiTexts::noInternetText, "Aucune connexion internet n'est disponible."},
    {&UiTexts::updateTitle, "Mise à jour"},
    {&UiTexts::latestVersionText, "Vous avez la dernière version"},
    {&UiTexts::versionAvailablePrefix, "La version "},
    {&UiTexts::versionAvailableSuffix,
     " est disponible, souhaitez vous la télécharger ?\n(Cliquez sur Oui pour accéder à la page "
     "de téléchargement)"},
    {&UiTexts::userCancelledText, "Annulé par l'utilisateur"},

    // Settings summary.
    {&UiTexts::relativeModeHelp, "Le mode relatif permet un redimensionnement proportionel des images."},
    {&UiTexts::freeModeHelp,
     "Le mode libre permet un redimensionnement libre, l'image pourra être déformée."},
    {&UiTexts::sizesIntro, "Les 2 tailles (larg/haut) sélectionnées sont : "},
    {&UiTexts::modePrefix, "Mode : "},
    {&UiTexts::finalSizePrefix, "Taille de l'image finale : "},
    {&UiTexts::sizePrefix, "Taille : "},
    {&UiTexts::qualityPrefix, "Qualité d'image : "},
    {&UiTexts::freeWord, "libre"},
    {&UiTexts::outputFormatPrefix, "Format de sortie : "},
    {&UiTexts::screenResolutionPrefix, " > Résolution écran : "},
    {&UiTexts::relativeWord, "relatif"},
    {&UiTexts::widthLetter, "L"},
    {&UiTexts::heightLetter, "H"},
};

constexpr std::string_view kAbout[] = {
    "{title}",
    "",
    "Logiciel réalisé par Orvandel",
    "{site}",
    "",
    "",
    "",
    "Merci aux membres du forum Norvane pour leur aide, merci à mon épouse pour son soutien "
    "constant, enfin, merci aux donateurs qui me permettent de poursuivre le développement de "
    "logiciels gratuits.",
};

constexpr std::string_view kUsage[] = {
    "Utilisation de Pixmoor",
    "",
    "Tout d'abord, choisissez le format libre ou relatif.",
    "Choisissez ensuite le format de sortie JPG ou PNG.",
    "(Pensez à régler la qualité pour le format JPG (8/10 par defaut))",
    "Vous pouvez aussi modifier le préfixe de vos futures images. (defaut : prefix_).",
    "Notez que si vous ne mettez pas de préfixe (ou 0), les images originales seront écrasées ! "
    "Faites attention à ne pas vous tromper de taille si vous n'utilisez pas de préfixe.",
    "Une fois vos réglages effectués, il ne vous restera plus qu'à glisser/déposer vos fichiers "
    "images sur PIXMOOR ou de simplement glisser/déposer le dossier contenant les images.",
    "Cette seconde solution n'inclura pas les sous répertoires mais traitera toutes les images "
    "présentes dans le dossier.",
    "Notez enfin que vos paramètres seront mémorisés lors du prochain lancement du logiciel.",
};

constexpr std::string_view kFormats[] = {
    "Quel format choisir ?",
    "",
    ">> Mode Libre <",
    "Ce mode vous permet de redimensionner des images à la taille désirée, sans respecter le "
    "ratio largeur/hauteur. Il conviendra pour créer rapidement un avatar dont la taille est "
    "imposée par un forum par exemple.",
    "",
    ">> Mode Relatif <",
    "C'est le mode le plus utilisé, il vous permet de définir une largeur pour vos photos en "
    "portrait et une hauteur pour vos photos en portrait. La taille des images ainsi traitées "
    "reste proportionelle, les images ne sont donc pas déformée.",
    "C'est le mode parfait pour le redimensionnement de photos par lot.",
    "",
    ">> Format JPG/JPEG <",
    "Ce format d'image est dit 'destructeur', cependant, c'est le meilleur compromis pour gagner "
    "de la place tout en gardant une qualité ",
    "très correcte à condition de choisir au moins '8' dans les options de qualité.",
    "",
    ">> Format PNG <",
    "Ce format d'image est non destructeur et vous permet de gagner de l'espace par rapport au "
    "format de base (BMP) .",
    "Moins performant en compression (pour les photos) que le JPG, le PNG sera utilisé pour les "
    "images destinées à l'impression.",
};

constexpr std::string_view kResolution[] = {
    "Quelle résolution choisir ?",
    "",
    "Les appareils photos d'aujourd'hui prennent des photos de très grande taille, pratique pour "
    "l'impression, elles s'avèrent souvent bien trop grandes pour être seulement visualisées sur "
    "un ecran d'ordinateur ou de télé. De plus le poids occupé par ces images est important !",
    "",
    "Nous vous proposons de vous baser sur votre résolution d'écran qui est de : L{width} x  "
    "H{height}",
};

constexpr std::string_view kDonate[] = {
    "Comment faire un don ?",
    "",
    "Dans le menu 'en ligne' selectionnez 'Faire un don' ou pressez simplement la touche 'D' de "
    "votre clavier.",
    "Vous serez alors redirigé sur la page web du site, il vous suffira de cliquer sur l'icone "
    "orange 'Faire un don'.",
    "Paypal est un service de transactions financières sécurisées.",
    "",
    "Vos dons, même minimes, sont important. Ils apportent un réel soutien au développement de "
    "nouveaux logiciels.",
    "Merci.",
};

constexpr LongText kLong[] = {
    {&UiTexts::aboutText, kAbout},     {&UiTexts::helpUsage, kUsage},
    {&UiTexts::helpFormats, kFormats}, {&UiTexts::helpResolution, kResolution},
    {&UiTexts::helpDonate, kDonate},
};

constexpr LanguageTable kFrench{kShort, kLong};

}  // namespace

const LanguageTable& frenchTable() {
  return kFrench;
}

}  // namespace pixmoor::texts::tables
