// Writes the pictures and the icon of Kestrine's windows into one folder:
//   kestrine-assets OUTPUT-DIR
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>

#include "bmp_file.h"
#include "ico_file.h"
#include "pictures.h"

namespace {

// An explicit font file, so the captions do not depend on which fonts
// fontconfig would pick on this machine.
constexpr char kCaptionFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

bool Write(const QDir& dir, const QString& name, const QByteArray& bytes) {
  QFile file(dir.filePath(name));
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) return true;
  std::fprintf(stderr, "kestrine-assets: cannot write %s\n", qPrintable(dir.filePath(name)));
  return false;
}

// Each picture as PNG for the Qt windows and as BMP for the Windows resources.
bool Save(const QImage& image, const QDir& dir, const QString& baseName) {
  if (!image.save(dir.filePath(baseName + ".png"), "PNG")) {
    std::fprintf(stderr, "kestrine-assets: cannot write %s.png\n",
                 qPrintable(dir.filePath(baseName)));
    return false;
  }
  return Write(dir, baseName + ".bmp", kestrine_assets::EncodeBmpFile(image));
}

}  // namespace

int main(int argc, char** argv) {
  // Drawing needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: kestrine-assets OUTPUT-DIR\n");
    return 2;
  }
  const QDir out(args[1]);
  if (!out.exists()) {
    std::fprintf(stderr, "kestrine-assets: no such folder: %s\n", qPrintable(args[1]));
    return 2;
  }

  const int font_id = QFontDatabase::addApplicationFont(kCaptionFont);
  if (font_id < 0) {
    std::fprintf(stderr, "kestrine-assets: cannot load %s (package fonts-dejavu-core)\n",
                 kCaptionFont);
    return 1;
  }
  const QString family = QFontDatabase::applicationFontFamilies(font_id).value(0);

  using namespace kestrine_assets;
  bool ok = true;
  ok &= Save(GlossyNavyBackground(443, 320, 104), out, "form1");
  // Only the top 82 rows of the completion window show; the band is sized
  // for those, so it keeps form1's proportions.
  ok &= Save(GlossyNavyBackground(400, 200, 50), out, "complete");
  ok &= Save(TexturedGreyBar(394, 67), out, "loading");
  ok &= Save(GlossyButton(54, 20, "Import", family), out, "import");
  ok &= Save(GlossyButton(54, 20, "Cancel", family), out, "cancel");
  ok &= Save(GlossyButton(54, 20, "Done", family), out, "done");

  QList<IconPicture> icon;
  for (int bits : {8, 32}) {
    for (int size : {48, 32, 16}) icon.append({AppIcon(size), bits});
  }
  ok &= Write(out, "kestrine.ico", EncodeIcoFile(icon));
  return ok ? 0 : 1;
}
