#include "src/Logger.h"

#include <utility>

void LogLineBuffer::append(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_[std::this_thread::get_id()] += text;
}

std::string LogLineBuffer::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pending_.find(std::this_thread::get_id());
    if (it == pending_.end()) return std::string();
    std::string text = std::move(it->second);
    pending_.erase(it);
    return text;
}

Logger::~Logger() {}

void Logger::flush() { log(stream.take()); }

void Logger::raiseIndent() { indent.fetch_add(1); }

void Logger::lowerIndent() {
    uint32_t level = indent.load();
    while (level > 0 && !indent.compare_exchange_weak(level, level - 1)) {
    }
}

FileLogger::FileLogger(const std::string& path, bool truncate)
    : file(path, truncate ? std::ios::out | std::ios::trunc : std::ios::out | std::ios::app) {}

FileLogger::~FileLogger() {
    if (file.is_open()) file.close();
}

void FileLogger::log(const std::string& line) {
    std::lock_guard<std::mutex> lock(writeLock);
    if (!file.is_open()) return;
    file << std::string(static_cast<size_t>(indent.load()) * 4, ' ') << line << '\n';
    file.flush();
}

LogIndent::LogIndent(Logger* logger) : logger_(logger) {
    if (logger_) logger_->raiseIndent();
}

LogIndent::~LogIndent() {
    if (logger_) logger_->lowerIndent();
}
