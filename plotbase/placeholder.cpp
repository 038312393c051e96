// Replaced by the storage-area library sources.
