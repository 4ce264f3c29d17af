#pragma once
// Names and paths are bytes, as the file system keeps them; the window shows
// them decoded as the system decodes file names (UTF-8, with undecodable
// bytes kept so that they come back unchanged), and gives typed or chosen
// paths back as bytes. Every widget converts through these two.

#include <QString>

#include <string>
#include <string_view>

namespace quarn {

QString FileNameText(std::string_view bytes);
std::string FileNameBytes(const QString& text);

}  // namespace quarn
