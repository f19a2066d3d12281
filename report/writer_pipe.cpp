#include "report/writer_pipe.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kd735::writer_pipe {

namespace {

std::string UserName(uid_t uid) {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  std::string name;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    name = found->pw_name;
  if (name.empty()) return "uid " + std::to_string(uid);
  return name + " (uid " + std::to_string(uid) + ")";
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ValidName(std::string_view name) {
  if (name.empty() || name.size() > 100 || name == "." || name == "..") return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string SocketPath(std::string_view name, uid_t uid) {
  const char* folder = access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp";
  return std::string(folder) + "/OSL_PIPE_" + std::to_string(uid) + "_" + std::string(name);
}

Check CheckSocket(const std::string& path, uid_t uid, std::string* reason) {
  // The folder first: where others may write and the sticky bit is off, they could replace the
  // socket between this check and the connection.
  const std::string folder = Folder(path);
  struct stat dir {};
  if (lstat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode) ||
      ((dir.st_mode & (S_IWGRP | S_IWOTH)) && !(dir.st_mode & S_ISVTX)) ||
      (dir.st_uid != 0 && dir.st_uid != uid)) {
    *reason = "Папка " + folder +
              " для канала связи с LibreOffice не защищена от других пользователей "
              "(владелец " +
              UserName(dir.st_uid) + "): соединение отклонено.";
    return Check::kRefused;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return Check::kAbsent;
    *reason = "Канал связи с LibreOffice " + path + " недоступен: " + std::strerror(errno);
    return Check::kRefused;
  }
  if (S_ISLNK(st.st_mode)) {
    *reason = "Канал связи с LibreOffice " + path + " — символьная ссылка (владелец " +
              UserName(st.st_uid) + "): соединение отклонено.";
    return Check::kRefused;
  }
  if (!S_ISSOCK(st.st_mode)) {
    *reason = "Канал связи с LibreOffice " + path + " не является сокетом (владелец " +
              UserName(st.st_uid) + "): соединение отклонено.";
    return Check::kRefused;
  }
  if (st.st_uid != uid) {
    *reason = "Канал связи с LibreOffice " + path + " принадлежит пользователю " +
              UserName(st.st_uid) +
              ", а не вам: соединение отклонено. Другой пользователь мог бы получить данные "
              "отчета.";
    return Check::kRefused;
  }
  return Check::kOwn;
}

}  // namespace kd735::writer_pipe
