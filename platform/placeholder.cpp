// replaced by the Qt and CUPS implementations
