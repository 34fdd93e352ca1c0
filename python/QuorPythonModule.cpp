// quormediafiles._native: the Python binding of quor.hpp. The engine is linked into the module,
// so its objects are created in process without registration. Payloads are handed out through
// the buffer protocol of Sample objects: a memoryview of a sample's payload is a view of the
// library's own sample bytes and keeps the sample alive.
//
// The GIL is released while the library reads, hashes, drains or stops; authentication runs on
// a thread of its own so that the calling thread can call the progress callback and notice
// Ctrl-C (KeyboardInterrupt cancels the walk and is raised once it has ended).
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <stop_token>
#include <thread>

#include "quormediafiles/quor.hpp"

namespace py = pybind11;
using namespace py::literals;

namespace {

// Exception classes by result code and the base class for any other code, set by the
// package's __init__ (_set_errors). They live as long as the interpreter; never freed.
struct ErrorClasses {
  py::dict byCode;
  py::object base;
};
ErrorClasses& Errors() {
  static auto* classes = new ErrorClasses();
  return *classes;
}

void RaiseError(const quor::Error& e) {
  const ErrorClasses& errors = Errors();
  py::object cls = errors.byCode.attr("get")(e.code(), errors.base);
  if (cls.is_none()) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return;
  }
  py::object value = cls(e.what(), "code"_a = e.code(), "code_name"_a = e.codeName(),
                         "description"_a = e.description(), "operation"_a = e.operation());
  PyErr_SetObject(cls.ptr(), value.ptr());
}

// One range being iterated from Python.
struct PySampleIterator {
  quor::SampleRange range;
  std::optional<quor::SampleIterator> it;
  bool started = false;

  quor::Sample Next() {
    {
      py::gil_scoped_release release;
      if (!started) {
        it = range.begin();
        started = true;
      } else if (*it != quor::SampleSentinel{}) {
        ++*it;
      }
    }
    if (*it == quor::SampleSentinel{}) throw py::stop_iteration();
    return **it;
  }
};

// Reader.verify: the walk on its own thread, progress and Ctrl-C on the caller's.
quor::Authentication Verify(const quor::Reader& reader, const py::object& progress) {
  std::stop_source stop;
  std::atomic<int> percent{-1};
  auto walk = std::async(std::launch::async, [&] {
    return reader.authenticate([&](unsigned p) { percent = static_cast<int>(p); },
                               stop.get_token());
  });
  int reported = -1;
  for (;;) {
    bool done = false;
    {
      py::gil_scoped_release release;
      done = walk.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready;
    }
    try {
      const int now = percent.load();
      if (!progress.is_none() && now != reported && now >= 0) {
        reported = now;
        progress(now);
      }
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    } catch (...) {
      stop.request_stop();
      py::gil_scoped_release release;
      walk.wait();
      throw;
    }
    if (done) break;
  }
  py::gil_scoped_release release;
  return walk.get();
}

quor::SampleFlags Flags(std::uint32_t bits) { return static_cast<quor::SampleFlags>(bits); }

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() = "The native part of quormediafiles (use the package, not this module).";

  // The translator's type takes the exception by value.
  // NOLINTNEXTLINE(performance-unnecessary-value-param)
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const quor::Error& e) {
      RaiseError(e);
    }
  });
  m.def("_set_errors", [](const py::dict& byCode, const py::object& base) {
    Errors() = {byCode, base};
  });
  m.def("_named_codes", [] {
    py::list codes;
    for (const quor::NamedCode& c : quor::namedCodes())
      codes.append(py::make_tuple(c.code, c.name));
    return codes;
  });
  m.def("format_name", &quor::formatName, "identifier"_a);
  // For bench/: the same walk as `for s in reader.samples(track)` touching every payload, in
  // C++ (the baseline of the Python iteration's speed). Returns the number of samples.
  m.def(
      "TEST_walk_in_cpp",
      [](const quor::Reader& reader, std::uint32_t track) {
        std::size_t count = 0;
        unsigned sum = 0;
        for (const quor::Sample& s : reader.samples(track)) {
          sum += s.payload().empty() ? 0u : unsigned(s.payload()[0]);
          ++count;
        }
        return count + (sum & 0u);
      },
      "reader"_a, "track"_a, py::call_guard<py::gil_scoped_release>());
  m.def(
      "sample_flag_words", [](std::uint32_t f) { return quor::words(Flags(f)); }, "flags"_a);
  m.def(
      "file_status_words",
      [](std::uint32_t s) { return quor::words(static_cast<quor::FileStatus>(s)); }, "status"_a);

  py::class_<quor::MemberFile>(m, "MemberFile")
      .def_readonly("name", &quor::MemberFile::name)
      .def_readonly("fileset_index", &quor::MemberFile::filesetIndex)
      .def_property_readonly("status",
                             [](const quor::MemberFile& f) { return std::uint32_t(f.status); })
      .def_property_readonly("status_words",
                             [](const quor::MemberFile& f) { return quor::words(f.status); })
      .def("__repr__", [](const quor::MemberFile& f) {
        return "MemberFile(" + f.name + ", status=" + std::to_string(std::uint32_t(f.status)) + ")";
      });

  py::class_<quor::FileSetInfo>(m, "FileSetInfo")
      .def_readonly("guid", &quor::FileSetInfo::guid)
      .def_readonly("creation_time", &quor::FileSetInfo::creationTime)
      .def_readonly("description", &quor::FileSetInfo::description)
      .def_readonly("password_protected", &quor::FileSetInfo::passwordProtected)
      .def_readonly("complete", &quor::FileSetInfo::complete)
      .def_readonly("files", &quor::FileSetInfo::files);

  py::class_<quor::SampleCounts>(m, "SampleCounts")
      .def_readonly("samples", &quor::SampleCounts::samples)
      .def_readonly("key_frames", &quor::SampleCounts::keyFrames)
      .def_readonly("payload_bytes", &quor::SampleCounts::payloadBytes)
      .def_readonly("unreadable", &quor::SampleCounts::unreadable)
      .def("__repr__", [](const quor::SampleCounts& c) {
        return "SampleCounts(samples=" + std::to_string(c.samples) +
               ", key_frames=" + std::to_string(c.keyFrames) +
               ", payload_bytes=" + std::to_string(c.payloadBytes) +
               ", unreadable=" + std::to_string(c.unreadable) + ")";
      });

  py::class_<quor::TrackInfo>(m, "TrackInfo")
      .def_readonly("id", &quor::TrackInfo::id)
      .def_readonly("name", &quor::TrackInfo::name)
      .def_readonly("source_id", &quor::TrackInfo::sourceId)
      .def_readonly("pair_id", &quor::TrackInfo::pairId)
      .def_readonly("source_url", &quor::TrackInfo::sourceUrl)
      .def_readonly("media_session_plugin", &quor::TrackInfo::mediaSessionPlugin)
      .def_readonly("video", &quor::TrackInfo::video)
      .def_readonly("audio", &quor::TrackInfo::audio)
      .def_readonly("authentic", &quor::TrackInfo::authentic)
      .def_readonly("video_format", &quor::TrackInfo::videoFormat)
      .def_readonly("audio_format", &quor::TrackInfo::audioFormat)
      .def_readonly("video_format_name", &quor::TrackInfo::videoFormatName)
      .def_readonly("audio_format_name", &quor::TrackInfo::audioFormatName)
      .def_readonly("filters", &quor::TrackInfo::filters)
      .def_readonly("first_timestamp", &quor::TrackInfo::firstTimestamp)
      .def_readonly("last_timestamp", &quor::TrackInfo::lastTimestamp)
      .def_readonly("metadata_error", &quor::TrackInfo::metadataError)
      .def_readonly("counts", &quor::TrackInfo::counts)
      .def("__repr__", [](const quor::TrackInfo& t) {
        return "TrackInfo(id=" + std::to_string(t.id) + ", name='" + t.name + "')";
      });

  py::class_<quor::Sample>(m, "Sample", py::buffer_protocol())
      .def_property_readonly("timestamp", &quor::Sample::timestamp)
      .def_property_readonly("_flags",
                             [](const quor::Sample& s) { return std::uint32_t(s.flags()); })
      .def_property_readonly("key_frame", &quor::Sample::keyFrame)
      .def_property_readonly("payload", [](const py::object& self) { return py::memoryview(self); })
      .def("__len__", [](const quor::Sample& s) { return s.payload().size(); })
      .def_buffer([](const quor::Sample& s) {
        return py::buffer_info(const_cast<std::byte*>(s.payload().data()), 1,
                               py::format_descriptor<std::uint8_t>::format(), 1,
                               {static_cast<py::ssize_t>(s.payload().size())}, {1}, true);
      })
      .def("__repr__", [](const quor::Sample& s) {
        return "Sample(timestamp=" + std::to_string(s.timestamp()) +
               ", flags=" + std::to_string(std::uint32_t(s.flags())) +
               ", payload=" + std::to_string(s.payload().size()) + " bytes)";
      });

  py::class_<PySampleIterator>(m, "SampleIterator")
      .def("__iter__", [](PySampleIterator& self) -> PySampleIterator& { return self; })
      .def("__next__", &PySampleIterator::Next);

  py::class_<quor::Damage>(m, "Damage")
      .def_readonly("offset", &quor::Damage::offset)
      .def_readonly("block_index", &quor::Damage::blockIndex)
      .def_readonly("problem", &quor::Damage::problem);

  py::class_<quor::FileVerdict>(m, "FileVerdict")
      .def_readonly("name", &quor::FileVerdict::name)
      .def_readonly("authentic", &quor::FileVerdict::authentic)
      .def_property_readonly("status",
                             [](const quor::FileVerdict& f) { return std::uint32_t(f.status); })
      .def_readonly("damage", &quor::FileVerdict::damage);

  py::class_<quor::Authentication>(m, "Authentication")
      .def_readonly("authentic", &quor::Authentication::authentic)
      .def_readonly("complete", &quor::Authentication::complete)
      .def_readonly("cancelled", &quor::Authentication::cancelled)
      .def_readonly("files", &quor::Authentication::files)
      .def("__bool__", [](const quor::Authentication& a) { return a.authentic; });

  py::class_<quor::Reader>(m, "Reader")
      .def(py::init([](const std::string& path, const std::string& password) {
             py::gil_scoped_release release;
             return quor::Reader::open(path, password);
           }),
           "path"_a, "password"_a = "")
      .def_property_readonly("info", &quor::Reader::info)
      .def_property_readonly("tracks", py::overload_cast<>(&quor::Reader::tracks, py::const_))
      .def(
          "counted_tracks",
          [](const quor::Reader& r) { return r.tracks(quor::TrackDetail::Counts); },
          py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("closed", [](const quor::Reader& r) { return !r.isOpen(); })
      .def(
          "samples",
          [](const quor::Reader& r, std::uint32_t track, std::uint64_t start,
             std::optional<std::uint64_t> end) {
            return PySampleIterator{r.samples(track, start, end.value_or(UINT64_MAX)), {}, false};
          },
          "track"_a, py::kw_only(), "start"_a = 0, "end"_a = py::none())
      .def("move_to", &quor::Reader::moveTo, "track"_a, "timestamp"_a,
           py::call_guard<py::gil_scoped_release>())
      .def("next", &quor::Reader::next, "track"_a, py::call_guard<py::gil_scoped_release>())
      .def("previous", &quor::Reader::previous, "track"_a, py::call_guard<py::gil_scoped_release>())
      .def("verify", &Verify, py::kw_only(), "progress"_a = py::none())
      .def(
          "verify_seals",
          [](const quor::Reader& r, const std::string& key) { return r.verifySeals(key); },
          "public_key"_a, py::call_guard<py::gil_scoped_release>())
      .def("close", &quor::Reader::close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](quor::Reader& r, const py::args&) {
        r.close();
        return false;
      });

  py::class_<quor::SealCheck>(m, "SealCheck")
      .def_readonly("file", &quor::SealCheck::file)
      .def_property_readonly("sealed_to_end", &quor::SealCheck::sealedToEnd)
      .def_property_readonly(
          "state", [](const quor::SealCheck& s) { return static_cast<unsigned>(s.state); })
      .def_readonly("last_block", &quor::SealCheck::lastBlock)
      .def_readonly("sealed_bytes", &quor::SealCheck::sealedBytes)
      .def_readonly("file_bytes", &quor::SealCheck::fileBytes)
      .def_readonly("description", &quor::SealCheck::description)
      .def("__repr__", [](const quor::SealCheck& s) { return s.file + ": " + s.description; });

  py::class_<quor::WriterStatus>(m, "WriterStatus")
      .def_property_readonly("state",
                             [](const quor::WriterStatus& s) { return quor::name(s.state); })
      .def_readonly("current_file_index", &quor::WriterStatus::currentFileIndex)
      .def_readonly("current_file_name", &quor::WriterStatus::currentFileName)
      .def_readonly("bytes_written_total", &quor::WriterStatus::bytesWrittenTotal)
      .def_readonly("bytes_written_current_file", &quor::WriterStatus::bytesWrittenCurrentFile);

  py::class_<quor::Writer>(m, "Writer")
      .def(
          py::init([](const std::string& path, const py::list& tracks, std::uint32_t maxFileSizeKiB,
                      std::uint32_t maxFiles, bool overwrite, const std::string& description,
                      const std::string& password, bool payloadOnly, const std::string& signingKey,
                      bool durable, std::uint32_t indexPeriod) {
            std::vector<quor::TrackSpec> specs;
            for (const py::handle& t : tracks) {
              const py::dict d = py::reinterpret_borrow<py::dict>(t);
              quor::TrackSpec wanted;
              wanted.id = d["id"].cast<std::uint32_t>();
              wanted.name = d.contains("name") ? d["name"].cast<std::string>() : "";
              if (d.contains("source_id") && !d["source_id"].is_none())
                wanted.sourceId = d["source_id"].cast<std::uint32_t>();
              if (d.contains("pair_id") && !d["pair_id"].is_none())
                wanted.pairId = d["pair_id"].cast<std::uint32_t>();
              wanted.sourceUrl =
                  d.contains("source_url") ? d["source_url"].cast<std::string>() : "";
              wanted.video = d.contains("video") && d["video"].cast<bool>();
              wanted.audio = d.contains("audio") && d["audio"].cast<bool>();
              wanted.videoFormat =
                  d.contains("video_format") ? d["video_format"].cast<std::string>() : "";
              wanted.audioFormat =
                  d.contains("audio_format") ? d["audio_format"].cast<std::string>() : "";
              specs.push_back(std::move(wanted));
            }
            quor::WriterOptions options;
            options.overwrite = overwrite;
            options.description = description;
            options.password = password;
            options.payloadOnly = payloadOnly;
            options.signingKey = signingKey;
            options.durable = durable;
            options.indexPeriodSeconds = indexPeriod;
            py::gil_scoped_release release;
            return quor::Writer::create(path, {maxFileSizeKiB, maxFiles}, specs, options);
          }),
          "path"_a, "tracks"_a, py::kw_only(), "max_file_size_kib"_a = 1024 * 1024,
          "max_files"_a = 1, "overwrite"_a = false, "description"_a = "", "password"_a = "",
          "payload_only"_a = false, "signing_key"_a = "", "durable"_a = false,
          "index_period"_a = 60)
      .def(
          "write",
          [](quor::Writer& w, std::uint32_t track, std::uint64_t timestamp, std::uint32_t flags,
             const py::buffer& payload) {
            const py::buffer_info info = payload.request();
            const auto* data = static_cast<const std::byte*>(info.ptr);
            const std::span<const std::byte> bytes(
                data,
                static_cast<std::size_t>(info.size) * static_cast<std::size_t>(info.itemsize));
            return w.write(track, timestamp, Flags(flags), bytes) == quor::WriteResult::RolledOver;
          },
          "track"_a, "timestamp"_a, "flags"_a, "payload"_a)
      .def_property_readonly("status", &quor::Writer::status)
      .def("drain", &quor::Writer::drain, py::call_guard<py::gil_scoped_release>())
      .def("stop", &quor::Writer::stop, py::call_guard<py::gil_scoped_release>())
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](quor::Writer& w, const py::args&) {
        py::gil_scoped_release release;
        w.stop();
        return false;
      });
}
