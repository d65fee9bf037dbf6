#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

namespace pelbrisk {

// A file or folder as the file system names it: its bytes, whatever they encode. A name that is
// not valid UTF-8 (a folder copied from an old Latin-1 disk) still lists, opens and plays; only
// what the window shows goes through DisplayName.
class TFilePath {
public:
    TFilePath() = default;
    explicit TFilePath(QByteArray bytes) : bytes_(std::move(bytes)) {}
    explicit TFilePath(const std::string& bytes) : bytes_(QByteArray::fromStdString(bytes)) {}
    // A path the toolkit hands over as text, in the file system's encoding.
    static TFilePath FromText(const QString& path);

    const QByteArray& Bytes() const { return bytes_; }
    std::string StdString() const { return bytes_.toStdString(); }
    bool IsEmpty() const { return bytes_.isEmpty(); }

    // The entry `name` of this folder, with one "/" between them.
    TFilePath Child(const QByteArray& name) const;
    // Without one trailing "/"; "/" itself becomes empty, as the folder's entries are "/" + name.
    TFilePath WithoutTrailingSlash() const;
    // Without "." and ".." steps and doubled or trailing slashes, so that two spellings compare.
    TFilePath Cleaned() const;
    // The last component, after one trailing "/" is removed.
    QByteArray FileName() const;
    // The folder that holds this entry, without a trailing "/".
    TFilePath Folder() const;

    // The whole path as the window shows it, each component through DisplayName.
    QString Display() const;

    bool operator==(const TFilePath&) const = default;
    bool operator<(const TFilePath& other) const { return bytes_ < other.bytes_; }

private:
    QByteArray bytes_;
};

// A name as the window shows it: its characters when it is valid UTF-8, else each byte as its
// Latin-1 character, so that "Caf\xE9" reads "Café" rather than a row of replacement marks.
QString DisplayName(QByteArrayView name);

// "file://" and the path's bytes, percent-encoded where an address must be.
QString FileUri(const TFilePath& path);
// The local file that a "file:" address names, on no host or on "localhost"; nothing for any
// other address.
std::optional<TFilePath> LocalFileOfUri(const QString& uri);

} // namespace pelbrisk
