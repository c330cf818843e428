#pragma once
// The results window's pictures, drawn at run time: the four-state strips
// of its bitmap buttons, the icons of the trees and the list (one per kind
// of file the list tells apart), the window
// icon of its title strip and the picture shown while nothing is previewed.

#include <QPixmap>
#include <QString>

namespace corvan {

enum class ButtonLook {
  Command,  // a large button with a picture and no text (Recover, Back)
  Small,    // a small text button in the toolbar ("Find", "Log", "?", "Go", "+", ">", "->")
  Caption,  // a caption button in the band ("-", "[]", "X")
};

enum class ButtonPicture { None, Recover, Back };

// Four state images side by side: normal, hover, pressed, disabled.
QPixmap ButtonStrip(ButtonLook look, int width, int height, const QString& text,
                    ButtonPicture picture = ButtonPicture::None);

enum class ItemIcon {
  Volume,          // the root of the trees
  Folder,
  FolderOpen,      // the selected folder
  DeletedFolder,
  DeletedFolderOpen,
  File,
  DeletedFile,
};
// Drawn anew on each call: owners keep the pixmaps they show.
QPixmap ItemIconPixmap(ItemIcon icon);

// The list's icon of a file of the icon key `key` (".doc", ".jpg", ...,
// "unknown"): a page marked with its kind's colour and sign.
QPixmap FileTypeIconPixmap(const QString& key);

QPixmap TitleIcon();         // 16 x 16, at (2, 5) of the title strip
QPixmap PreviewPlaceholder();  // 300 x 224

}  // namespace corvan
