// The library's type description: the eight public dual interfaces, the six coclasses and
// WriterStateEnum of QuorMediaFilesLib 1.0. Dispatch calls on every object are served from it
// (QuorInterfaceDescription<IQuor...>() below, used by CQuorDispatchObject). Constant data.
#pragma once

#include "platform/automation/QuorTypeDescription.h"
#include "quormediafiles/QuorMediaFiles.h"

const CQuorTypeLibraryDesc& QuorMediaFilesTypeLibrary() noexcept;

template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileReader>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorFileSetMetadata>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileStatus>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorTrackMetadata>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileSample>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileWriter>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileRecordingStatus>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileWriterOptions>() noexcept;
template <>
const CQuorInterfaceDesc& QuorInterfaceDescription<IQuorMediaFileWriterSeal>() noexcept;
