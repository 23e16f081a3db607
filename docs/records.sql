-- The factory's central table of brevload records. Created by `brevload-cli records init-db URL`;
-- every station pushes the records of its local file here. A record's uuid is its identity: a
-- station that pushes a record again (a retry after a lost answer) adds nothing.
CREATE TABLE IF NOT EXISTS brevload_records (
    uuid          uuid PRIMARY KEY,
    started_at    timestamptz NOT NULL,
    ended_at      timestamptz,
    station       text NOT NULL,
    version       text NOT NULL,
    operation     text NOT NULL,   -- download, erase, random-test, read, verify
    path          text,            -- internal, external, pc-mode
    erase_unit    text,            -- 4K, 64K
    reset_after   integer,
    pins          text,            -- CS,CLK,MOSI,MISO of the external flash
    bus           text,            -- the five bus bytes, hex
    device        text NOT NULL,
    slot          text,
    port_path     text,
    serial        text,
    flash_id      text,            -- hex
    image_path    text,
    image_size    bigint,
    header_length bigint,
    data_crc16    text,            -- hex, of the data after the header
    image_sha256  text,            -- hex, of the whole file
    bytes         bigint,          -- bytes moved
    result        text NOT NULL,   -- ok, failed, interrupted
    reason        text,            -- the failure's code
    detail        text,
    duration_ms   bigint,
    received_at   timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS brevload_records_started ON brevload_records (started_at);
CREATE INDEX IF NOT EXISTS brevload_records_station_slot ON brevload_records (station, slot);
CREATE INDEX IF NOT EXISTS brevload_records_sha256 ON brevload_records (image_sha256);
