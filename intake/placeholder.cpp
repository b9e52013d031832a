// replaced by the folder poller
